#include "app/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

using app::ChannelField;

namespace {

QLabel* SmallText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.85);
    else
        font.setPixelSize(std::max(1, font.pixelSize() * 85 / 100));
    label->setFont(font);
    return label;
}

} // namespace

SettingsDialog::SettingsDialog(const WindowSettings& shown, bool commandLine, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(tr("設定"));
    auto* layout = new QVBoxLayout(this);
    for (int channel = 0; channel < channels::kChannelCount; ++channel)
        layout->addWidget(BuildChannel(channel, shown.channels[std::size_t(channel)]));

    auto* window = new QFormLayout;
    reconnect_ = new QCheckBox(tr("抜かれたユニットの再接続を待つ"), this);
    reconnect_->setToolTip(tr("ユニットが抜かれても計測を終えず、同じユニットが戻るのを待ちます"));
    reconnect_->setChecked(shown.reconnect);
    window->addRow(reconnect_);
    language_ = new QComboBox(this);
    language_->addItem(tr("自動"), QString());
    language_->addItem(tr("日本語"), QStringLiteral("ja"));
    language_->addItem(QStringLiteral("English"), QStringLiteral("en"));
    language_->setCurrentIndex(std::max(0, language_->findData(shown.language)));
    window->addRow(tr("言語 (次回の起動から)"), language_);
    layout->addLayout(window);

    QString note = tr("チャンネルの変更は、次の START から使われます。");
    if (commandLine)
        note += QLatin1Char(' ') +
                tr("コマンドラインで指定した値はこの起動の間だけ使われ、ファイルには変更した項目だけが保存されます。");
    layout->addWidget(SmallText(note, this));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    layout->addWidget(buttons);
    Check();
}

QWidget* SettingsDialog::BuildChannel(int channel, const channels::Channel& shown) {
    auto* box = new QGroupBox(channels::Key(channel).toUpper(), this);
    auto* grid = new QGridLayout(box);
    ChannelControls& c = channels_[std::size_t(channel)];
    const app::ChannelTexts texts = app::TextsOf(shown);
    for (int field = 0; field < app::kChannelFieldCount; ++field) {
        auto* edit = new QLineEdit(texts[std::size_t(field)], box);
        c.edits[std::size_t(field)] = edit;
        auto* problem = new QLabel(box);
        problem->setStyleSheet(QStringLiteral("color: #c00000"));
        problem->setWordWrap(true);
        c.problems[std::size_t(field)] = problem;
        connect(edit, &QLineEdit::textChanged, this, &SettingsDialog::Check);
    }
    const auto edit = [&c](ChannelField field) { return c.edits[std::size_t(field)]; };
    const auto problem = [&c](ChannelField field) { return c.problems[std::size_t(field)]; };
    for (const ChannelField field : {ChannelField::Low, ChannelField::High})
        edit(field)->setPlaceholderText(tr("なし"));
    for (QLabel*& unit : c.units)
        unit = new QLabel(box);
    c.hysteresisUnit = new QLabel(box);

    // One row a field, and the calibration points' two fields on one row: what it is, the field(s)
    // with their units, and what is wrong beside them.
    struct Row {
        QString title;
        ChannelField first;
        std::optional<ChannelField> second;
        QLabel* unit;
    };
    const Row rows[] = {
        {tr("名前"), ChannelField::Name, std::nullopt, nullptr},
        {tr("単位"), ChannelField::Unit, std::nullopt, nullptr},
        {tr("校正点 1"), ChannelField::Volts1, ChannelField::Value1, c.units[0]},
        {tr("校正点 2"), ChannelField::Volts2, ChannelField::Value2, c.units[1]},
        {tr("下限"), ChannelField::Low, std::nullopt, c.units[2]},
        {tr("上限"), ChannelField::High, std::nullopt, c.units[3]},
        {tr("保持時間 (秒)"), ChannelField::Hold, std::nullopt, nullptr},
        {tr("ヒステリシス"), ChannelField::Hysteresis, std::nullopt, c.hysteresisUnit},
    };
    int line = 0;
    for (const Row& row : rows) {
        grid->addWidget(new QLabel(row.title, box), line, 0);
        auto* fields = new QHBoxLayout;
        fields->addWidget(edit(row.first));
        auto* problems = new QVBoxLayout;
        problems->addWidget(problem(row.first));
        if (row.second) {
            edit(row.first)->setMaximumWidth(70);
            edit(*row.second)->setMaximumWidth(70);
            fields->addWidget(new QLabel(QStringLiteral("V →"), box));
            fields->addWidget(edit(*row.second));
            problems->addWidget(problem(*row.second));
        }
        if (row.unit)
            fields->addWidget(row.unit);
        fields->addStretch(1);
        grid->addLayout(fields, line, 1);
        grid->addLayout(problems, line, 2);
        ++line;
    }
    grid->setColumnMinimumWidth(2, 240);
    grid->setColumnStretch(2, 1);
    return box;
}

app::ChannelTexts SettingsDialog::Texts(int channel) const {
    app::ChannelTexts texts;
    for (int field = 0; field < app::kChannelFieldCount; ++field)
        texts[std::size_t(field)] = channels_[std::size_t(channel)].edits[std::size_t(field)]->text();
    return texts;
}

bool SettingsDialog::Check() {
    bool fine = true;
    for (int channel = 0; channel < channels::kChannelCount; ++channel) {
        ChannelControls& c = channels_[std::size_t(channel)];
        const app::ChannelTexts texts = Texts(channel);
        const app::ChannelRead read = app::ReadChannel(texts);
        fine = fine && read.channel.has_value();
        for (int field = 0; field < app::kChannelFieldCount; ++field) {
            QLabel* problem = c.problems[std::size_t(field)];
            problem->setText(read.problems[std::size_t(field)]);
            problem->setVisible(!problem->text().isEmpty());
        }
        const QString unit = At(texts, ChannelField::Unit).trimmed();
        for (QLabel* label : c.units)
            label->setText(unit);
        c.hysteresisUnit->setText(unit);
        // The default in force follows the limits and the scale as they are typed.
        const QString hysteresis = app::DefaultHysteresisText(texts);
        if (!hysteresis.isEmpty())
            c.edits[std::size_t(ChannelField::Hysteresis)]->setPlaceholderText(tr("既定: %1").arg(hysteresis));
    }
    if (ok_)
        ok_->setEnabled(fine);
    return fine;
}

QLineEdit* SettingsDialog::Edit(int channel, ChannelField field) const {
    return channels_[std::size_t(channel)].edits[std::size_t(field)];
}

QString SettingsDialog::Problem(int channel, ChannelField field) const {
    return channels_[std::size_t(channel)].problems[std::size_t(field)]->text();
}

WindowSettings SettingsDialog::Settings() const {
    WindowSettings settings;
    for (int channel = 0; channel < channels::kChannelCount; ++channel)
        if (const auto read = app::ReadChannel(Texts(channel)).channel)
            settings.channels[std::size_t(channel)] = *read;
    settings.reconnect = reconnect_->isChecked();
    settings.language = language_->currentData().toString();
    return settings;
}

void SettingsDialog::accept() {
    if (Check())
        QDialog::accept();
}

std::optional<WindowSettings> StandardSettingsDialog::Execute(QWidget* parent, const WindowSettings& shown,
                                                               bool commandLine) {
    SettingsDialog dialog(shown, commandLine, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Settings();
}
