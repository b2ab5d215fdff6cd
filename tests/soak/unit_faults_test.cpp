// The simulated unit's seeded random faults: the same seed gives the same
// replies, each fault has the shape the soak runs rely on, and the unit hands
// over every byte it sends, in order, however the reads cut them.
#include "device/simulated_unit.h"
#include "device/unit_model.h"

#include <QTest>

using device::FaultDraw;
using device::ReplyPiece;
using device::UnitFaults;
using device::UnitModel;
using std::chrono::microseconds;
using std::chrono::milliseconds;

Q_DECLARE_METATYPE(device::UnitFaults)

namespace {

UnitFaults AllFaults(std::uint32_t seed, double chance) {
    UnitFaults f;
    f.randomSeed = seed;
    f.piecesChance = chance;
    f.garbageChance = chance;
    f.burstChance = chance;
    f.shortSilenceChance = chance;
    f.longSilenceChance = chance;
    return f;
}

std::string Joined(const std::vector<ReplyPiece>& pieces) {
    std::string bytes;
    for (const ReplyPiece& p : pieces)
        bytes += p.bytes;
    return bytes;
}

bool SamePieces(const std::vector<ReplyPiece>& a, const std::vector<ReplyPiece>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ReplyPiece& x, const ReplyPiece& y) {
        return x.dueUs == y.dueUs && x.bytes == y.bytes;
    });
}

} // namespace

class UnitFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void withoutSeedOrChanceTheUnitIsPlain_data() {
        QTest::addColumn<UnitFaults>("faults");
        UnitFaults certainButUnseeded = AllFaults(0, 1.0);
        QTest::newRow("every chance certain, no seed") << certainButUnseeded;
        QTest::newRow("seeded, no chance") << AllFaults(7, 0.0);
        UnitFaults withKnobs = AllFaults(0, 1.0);
        withKnobs.pieces = 3;
        withKnobs.leadingBytes = 4;
        QTest::newRow("fixed knobs kept, no seed") << withKnobs;
    }
    void withoutSeedOrChanceTheUnitIsPlain() {
        QFETCH(UnitFaults, faults);
        UnitFaults plain;
        plain.pieces = faults.pieces;
        plain.leadingBytes = faults.leadingBytes;
        const UnitModel model(faults);
        const UnitModel reference(plain);
        for (unsigned n = 0; n < 1000; ++n) {
            QCOMPARE(model.ReplyFor(n), reference.ReplyFor(n));
            QVERIFY(SamePieces(model.PiecesFor(n), reference.PiecesFor(n)));
            // Equal pieces, the last due when the reply and its request have crossed the wire.
            const auto pieces = model.PiecesFor(n);
            QCOMPARE(int(pieces.size()), faults.pieces);
            QCOMPARE(pieces.back().dueUs, std::int64_t(UnitModel::WireTimeUs(model.ReplyFor(n).size() + 3)));
        }
    }

    void aSeedAlwaysGivesTheSameReplies_data() {
        QTest::addColumn<uint>("seed");
        QTest::newRow("1") << 1u;
        QTest::newRow("0xDEADBEEF") << 0xDEADBEEFu;
        QTest::newRow("largest") << 0xFFFFFFFFu;
    }
    void aSeedAlwaysGivesTheSameReplies() {
        QFETCH(uint, seed);
        const UnitModel a(AllFaults(seed, 0.2));
        const UnitModel b(AllFaults(seed, 0.2));
        const UnitModel other(AllFaults(seed ^ 1u, 0.2));
        int differences = 0;
        // Asked out of order: a request's faults depend on its number alone.
        for (unsigned n = 2000; n-- > 0;) {
            QVERIFY(SamePieces(a.PiecesFor(n), b.PiecesFor(n)));
            differences += !SamePieces(a.PiecesFor(n), other.PiecesFor(n));
        }
        QVERIFY(differences > 1000);
    }

    void eachFaultComesAsOftenAsItsChance_data() {
        QTest::addColumn<int>("fault"); // index into the draw's five faults
        QTest::addColumn<double>("chance");
        QTest::newRow("pieces 30%") << 0 << 0.3;
        QTest::newRow("garbage 5%") << 1 << 0.05;
        QTest::newRow("burst 5%") << 2 << 0.05;
        QTest::newRow("short silence 10%") << 3 << 0.1;
        QTest::newRow("long silence 1%") << 4 << 0.01;
    }
    void eachFaultComesAsOftenAsItsChance() {
        QFETCH(int, fault);
        QFETCH(double, chance);
        UnitFaults f;
        f.randomSeed = 99;
        double* const chances[] = {&f.piecesChance, &f.garbageChance, &f.burstChance, &f.shortSilenceChance,
                                   &f.longSilenceChance};
        *chances[fault] = chance;
        const UnitModel model(f);
        constexpr int kRequests = 40'000;
        int drawn = 0;
        int others = 0;
        for (unsigned n = 0; n < kRequests; ++n) {
            const FaultDraw d = model.DrawFor(n);
            const bool all[] = {d.pieces, d.garbage, d.burst, d.shortSilence, d.longSilence};
            for (int i = 0; i < 5; ++i)
                (i == fault ? drawn : others) += all[i];
        }
        QCOMPARE(others, 0);
        const double rate = double(drawn) / kRequests;
        QVERIFY2(std::abs(rate - chance) < 0.01 + chance / 10, qPrintable(QString::number(rate)));
    }

    // The shapes the soak runs count on: garbage and bursts big enough to be read,
    // bursts too big for one read, and every reply in well before the reply wait ends.
    void faultsHaveTheirShapes_data() {
        QTest::addColumn<uint>("seed");
        QTest::newRow("seed 5") << 5u;
        QTest::newRow("seed 6") << 6u;
    }
    void faultsHaveTheirShapes() {
        QFETCH(uint, seed);
        const UnitModel model(AllFaults(seed, 0.25));
        const UnitModel plain;
        int seen[5] = {};
        for (unsigned n = 0; n < 5000; ++n) {
            const FaultDraw d = model.DrawFor(n);
            const std::string reply = model.ReplyFor(n);
            const auto pieces = model.PiecesFor(n);
            if (d.longSilence) {
                QVERIFY(reply.empty() && pieces.empty());
                ++seen[4];
                continue;
            }
            QCOMPARE(Joined(pieces), reply);
            for (std::size_t i = 1; i < pieces.size(); ++i)
                QVERIFY(pieces[i].dueUs >= pieces[i - 1].dueUs && !pieces[i].bytes.empty());
            if (d.garbage) {
                QVERIFY(reply.size() >= 21 && reply.size() <= 120);
                ++seen[1];
            } else {
                QVERIFY(reply.starts_with(plain.ReplyFor(n)));
                QCOMPARE(reply.size() > plain.ReplyFor(n).size(), d.burst);
                if (d.burst) {
                    QVERIFY(reply.size() > 255);
                    ++seen[2];
                }
            }
            if (d.pieces) {
                QVERIFY(pieces.size() >= 2 && pieces.size() <= 8);
                ++seen[0];
            } else {
                QCOMPARE(pieces.size(), std::size_t(1));
            }
            const std::int64_t wireUs = UnitModel::WireTimeUs(reply.size() + 3);
            if (d.shortSilence) {
                QVERIFY(pieces.front().dueUs >= 100'000);
                ++seen[3];
            }
            QVERIFY(pieces.back().dueUs <= (d.shortSilence ? 500'000 : 0) + wireUs);
            QVERIFY(pieces.back().dueUs < 700'000);
        }
        for (const int count : seen)
            QVERIFY(count > 100);
    }

    // Requests at uneven times, reads of a fixed size whenever anything is queued:
    // what the reads hand over, and what the observer is told, is everything the
    // unit answered, in order.
    void theUnitHandsOverEveryByteInOrder_data() {
        QTest::addColumn<uint>("seed");
        QTest::addColumn<int>("readSize");
        QTest::newRow("reads of 255") << 41u << 255;
        QTest::newRow("reads of 21") << 42u << 21;
        QTest::newRow("reads of 1000") << 43u << 1000;
    }
    void theUnitHandsOverEveryByteInOrder() {
        QFETCH(uint, seed);
        QFETCH(int, readSize);
        microseconds now{0};
        device::SimulatedUnitOptions options;
        options.faults = AllFaults(seed, 0.2);
        auto owned = std::make_unique<device::SimulatedUnit>(options, [&] { return now; });
        device::SimulatedUnit& unit = *owned;
        device::CheckedD2xx link(std::move(owned));
        FT_HANDLE handle = nullptr;
        QCOMPARE(link.OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        std::string observed;
        unit.SetReadObserver([&](std::string_view bytes) { observed += bytes; });

        std::string read;
        std::vector<char> buffer(static_cast<std::size_t>(readSize));
        const auto readAll = [&] {
            DWORD queued = 0;
            while (link.GetStatus(handle, &queued, nullptr, nullptr) == FT_OK && queued > 0) {
                DWORD got = 0;
                QCOMPARE(link.Read(handle, buffer.data(), DWORD(readSize), &got), FT_OK);
                QVERIFY(got > 0 && got <= DWORD(readSize));
                read.append(buffer.data(), got);
            }
        };
        constexpr unsigned kRequests = 600;
        for (unsigned n = 0; n < kRequests; ++n) {
            DWORD written = 0;
            QCOMPARE(link.Write(handle, "AL\r", 3, &written), FT_OK);
            now += milliseconds(7 + 31 * (n % 11));
            readAll();
        }
        now += std::chrono::seconds(10);
        readAll();
        QCOMPARE(unit.BytesOnTheWay(), std::size_t(0));

        const UnitModel model(options.faults);
        std::string sent;
        for (unsigned n = 0; n < kRequests; ++n)
            sent += model.ReplyFor(n);
        QCOMPARE(read.size(), sent.size());
        QVERIFY(read == sent);
        QVERIFY(observed == read);
    }
};

QTEST_GUILESS_MAIN(UnitFaultsTest)
#include "unit_faults_test.moc"
