<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>ManualWindow</name>
    <message>
        <source>マニュアル</source>
        <translation>Manual</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>抜かれたユニットの再接続を待つ</source>
        <translation>Wait for an unplugged unit</translation>
    </message>
    <message>
        <source>ユニットが抜かれても計測を終えず、同じユニットが戻るのを待ちます</source>
        <translation>When the unit is unplugged, the run goes on and waits for the same unit to come back</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>日本語</source>
        <translation>日本語 (Japanese)</translation>
    </message>
    <message>
        <source>言語 (次回の起動から)</source>
        <translation>Language (from the next start)</translation>
    </message>
    <message>
        <source>チャンネルの変更は、次の START から使われます。</source>
        <translation>Changes to the channels apply from the next START.</translation>
    </message>
    <message>
        <source>コマンドラインで指定した値はこの起動の間だけ使われ、ファイルには変更した項目だけが保存されます。</source>
        <translation>Values given on the command line apply to this start only; of those, only the fields you change here are saved.</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>単位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>校正点 1</source>
        <translation>Calibration point 1</translation>
    </message>
    <message>
        <source>校正点 2</source>
        <translation>Calibration point 2</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Low limit</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>High limit</translation>
    </message>
    <message>
        <source>保持時間 (秒)</source>
        <translation>Hold time (s)</translation>
    </message>
    <message>
        <source>ヒステリシス</source>
        <translation>Hysteresis</translation>
    </message>
    <message>
        <source>既定: %1</source>
        <translation>Default: %1</translation>
    </message>
    <message>
        <source>数値を入れてください</source>
        <translation>Enter a number</translation>
    </message>
    <message>
        <source>数値を入れるか、空欄にしてください</source>
        <translation>Enter a number, or leave it empty</translation>
    </message>
    <message>
        <source>点 1 と同じ電圧です</source>
        <translation>The same voltage as point 1</translation>
    </message>
    <message>
        <source>点 1 と同じ値です</source>
        <translation>The same value as point 1</translation>
    </message>
    <message>
        <source>この 2 点では直線になりません</source>
        <translation>These two points make no line</translation>
    </message>
    <message>
        <source>上限より上です</source>
        <translation>Above the high limit</translation>
    </message>
    <message>
        <source>0 から 86400 までの秒数を入れてください</source>
        <translation>Enter seconds from 0 to 86400</translation>
    </message>
    <message>
        <source>0 以上の数値を入れるか、空欄 (既定) にしてください</source>
        <translation>Enter a number from 0 up, or leave it empty (the default)</translation>
    </message>
    <message>
        <source>空にできず、%1 文字まで。コンマ、引用符、制御文字 (タブ、改行など) は使えません</source>
        <translation>Not empty, at most %1 characters; no comma, quote or control character (tab, line end…)</translation>
    </message>
    <message>
        <source>0〜9.99 V の値が %1 未満になる 2 点にしてください (小数 %2 桁で %3 桁まで)</source>
        <translation>Values for 0–9.99 V must stay below %1 (%3 digits with %2 decimals)</translation>
    </message>
    <message>
        <source>大きさ %1 未満の数値にしてください (小数 %2 桁で %3 桁まで)</source>
        <translation>Enter a number below %1 in size (%3 digits with %2 decimals)</translation>
    </message>
</context>
<context>
    <name>Status</name>
    <message>
        <source>データ読み込み中</source>
        <translation>Reading data</translation>
    </message>
    <message>
        <source>キャプチャー開始</source>
        <translation>Capture start</translation>
    </message>
    <message>
        <source>データ取り込み終了</source>
        <translation>Data capture finished</translation>
    </message>
    <message>
        <source>応答がありません</source>
        <translation>No response</translation>
    </message>
    <message>
        <source>データファイルがありません</source>
        <translation>No data file</translation>
    </message>
    <message>
        <source>データ受信エラー</source>
        <translation>Data reception error</translation>
    </message>
    <message>
        <source>ファイル名が空です: 削除しません</source>
        <translation>File name is empty: nothing deleted</translation>
    </message>
    <message>
        <source>削除できません: %1 (%2)</source>
        <translation>Cannot delete: %1 (%2)</translation>
    </message>
    <message>
        <source>記録を中止しました</source>
        <translation>Record stopped</translation>
    </message>
    <message>
        <source>標準出力に届かなかった行があります</source>
        <translation>Rows did not reach standard output</translation>
    </message>
    <message>
        <source>MQTT送信を中止しました</source>
        <translation>MQTT publishing stopped</translation>
    </message>
    <message>
        <source>トレンドウィンドウが満杯です</source>
        <translation>Trend window full</translation>
    </message>
    <message>
        <source>%1 が上限を超えています (%2 %3)</source>
        <translation>%1 above its high limit (%2 %3)</translation>
    </message>
    <message>
        <source>%1 が下限を下回っています (%2 %3)</source>
        <translation>%1 below its low limit (%2 %3)</translation>
    </message>
    <message>
        <source>ユニット再接続待ち</source>
        <translation>Waiting for the unit</translation>
    </message>
    <message>
        <source>MQTTブローカーに接続できません</source>
        <translation>MQTT broker unreachable</translation>
    </message>
    <message>
        <source>MQTTブローカーに再接続しました</source>
        <translation>MQTT broker back</translation>
    </message>
    <message>
        <source>MQTT送信待ちの古いデータ%1件を破棄しました</source>
        <translation>MQTT: %1 oldest samples dropped</translation>
    </message>
    <message>
        <source>MQTT未送信のデータが%1件あります</source>
        <translation>MQTT: %1 samples not sent</translation>
    </message>
    <message>
        <source>MQTT送信待ちが満杯です: 古いデータから破棄します</source>
        <translation>MQTT queue full: dropping oldest samples</translation>
    </message>
    <message>
        <source>MQTTブローカーが接続を拒否しました</source>
        <translation>MQTT broker refused the connection</translation>
    </message>
    <message>
        <source>MQTTブローカーが接続を拒否しました: プロトコルのバージョンが違います</source>
        <translation>MQTT broker refused: unacceptable protocol version</translation>
    </message>
    <message>
        <source>MQTTブローカーが接続を拒否しました: クライアントIDが拒否されました</source>
        <translation>MQTT broker refused: identifier rejected</translation>
    </message>
    <message>
        <source>MQTTブローカーが接続を拒否しました: サーバーが使用できません</source>
        <translation>MQTT broker refused: server unavailable</translation>
    </message>
    <message>
        <source>MQTTブローカーが接続を拒否しました: ユーザー名かパスワードが違います</source>
        <translation>MQTT broker refused: bad user name or password</translation>
    </message>
    <message>
        <source>MQTTブローカーが接続を拒否しました: 接続が許可されていません</source>
        <translation>MQTT broker refused: not authorised</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>自動印刷</source>
        <translation>Auto print</translation>
    </message>
    <message>
        <source>連続計測</source>
        <translation>Continuous</translation>
    </message>
    <message>
        <source>ファイル名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>自動セーブ</source>
        <translation>Auto save</translation>
    </message>
    <message>
        <source>トレンド</source>
        <translation>TREND</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>SETTINGS</translation>
    </message>
</context>
<context>
    <name>log_pane::FindBar</name>
    <message>
        <source>検索</source>
        <translation>Find</translation>
    </message>
</context>
<context>
    <name>trend</name>
    <message>
        <source>%1 の %2 行目: %3 (読めない行は %4 行。飛ばして、残りをすべて表示します)</source>
        <translation>%1, line %2: %3 (%4 lines could not be read; they are left out and everything else is shown)</translation>
    </message>
    <message>
        <source>UTF-8 でないバイトがあります</source>
        <translation>a byte that is not UTF-8</translation>
    </message>
    <message>
        <source>空の行です</source>
        <translation>an empty row</translation>
    </message>
    <message>
        <source>列が %1 個あります (記録の行は %2 列です)</source>
        <translation>%1 columns (a record row has %2)</translation>
    </message>
    <message>
        <source>列「%1」の値「%2」が列「%3」の値「%4」と合いません</source>
        <translation>column &quot;%1&quot; holds &quot;%2&quot;, which does not agree with &quot;%4&quot; in column &quot;%3&quot; and the other rows</translation>
    </message>
    <message>
        <source>列「%1」の値「%2」が前の行の単位「%3」と違います</source>
        <translation>column &quot;%1&quot; holds &quot;%2&quot;, not the unit &quot;%3&quot; of the rows before</translation>
    </message>
    <message>
        <source>hh, hl, lh, ll の一部だけが空です</source>
        <translation>only some of hh, hl, lh, ll are empty</translation>
    </message>
    <message>
        <source>列「%1」の値「%2」が読めません</source>
        <translation>column &quot;%1&quot; holds &quot;%2&quot;, which cannot be read</translation>
    </message>
    <message>
        <source>メモリが足りません</source>
        <translation>not enough memory</translation>
    </message>
    <message>
        <source>%1: 空のファイルです。記録ファイルではありません</source>
        <translation>%1: the file is empty, not a run record</translation>
    </message>
    <message>
        <source>%1: 行が多すぎます。最初の %2 行だけを表示します</source>
        <translation>%1: too many rows; only the first %2 are shown</translation>
    </message>
    <message>
        <source>%1: 最後の行 (%2 行目) が途中で切れています。記録中にロガーが止まったようです。その前の %3 行を表示します</source>
        <translation>%1: the last row (line %2) is cut short; the logger seems to have stopped while writing it. The %3 rows before it are shown</translation>
    </message>
    <message>
        <source>%1 の %2 行目: %3</source>
        <translation>%1, line %2: %3</translation>
    </message>
    <message>
        <source>%1: サンプルの行がありません</source>
        <translation>%1: no sample rows</translation>
    </message>
    <message>
        <source>%1 の 1 行目: UTF-8 でないバイトがあります。記録ファイルではありません</source>
        <translation>%1, line 1: a byte that is not UTF-8; not a run record</translation>
    </message>
    <message>
        <source>%1: 記録ファイルではありません (1 行目が記録の見出しではありません)</source>
        <translation>%1: not a run record (line 1 is not the record&apos;s header)</translation>
    </message>
    <message>
        <source>%1 の 1 行目: 列「%2」がありません</source>
        <translation>%1, line 1: the column &quot;%2&quot; is missing</translation>
    </message>
    <message>
        <source>%1 の 1 行目: 列が記録の列と違います (%2)</source>
        <translation>%1, line 1: the columns are not the record&apos;s (%2)</translation>
    </message>
    <message>
        <source>%1: メモリが足りません</source>
        <translation>%1: not enough memory</translation>
    </message>
    <message>
        <source>%1 を開けません: %2</source>
        <translation>cannot open %1: %2</translation>
    </message>
    <message>
        <source>%1: PNG を作れません</source>
        <translation>%1: the PNG could not be made</translation>
    </message>
    <message>
        <source>%1: 保存できる形式は PNG, PDF, SVG です</source>
        <translation>%1: pictures are saved as PNG, PDF or SVG</translation>
    </message>
    <message>
        <source>%1 は書き込み中の測定の記録です。何も書き出していません</source>
        <translation>%1 is the record of a run still being written; nothing was written</translation>
    </message>
    <message>
        <source>行が %1 バイトを超えています</source>
        <translation>the line is longer than %1 bytes</translation>
    </message>
    <message>
        <source>%1: 読んでいる間にファイルが短くなりました (開いたときは %2 バイト、読めたのは %3 バイト)。その前の %4 行を表示します</source>
        <translation>%1: the file became shorter while it was being read (%2 bytes when opened, %3 read). The %4 rows before are shown</translation>
    </message>
    <message>
        <source>%1: 記録ファイルが消されたか、別のファイルに置き換えられました。追従をやめます (表示している行はそのままです)</source>
        <translation>%1: the record was removed or replaced by another file. It is no longer followed (the rows shown stay)</translation>
    </message>
    <message>
        <source>%1: 記録ファイルが短くなりました (%2 バイトから %3 バイトへ)。追従をやめます (表示している行はそのままです)</source>
        <translation>%1: the record became shorter (from %2 bytes to %3). It is no longer followed (the rows shown stay)</translation>
    </message>
    <message>
        <source>%1 を読めません: %2</source>
        <translation>cannot read %1: %2</translation>
    </message>
</context>
<context>
    <name>trend::TrendWindow</name>
    <message>
        <source>チャンネル</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>コピー</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>現在の測定</source>
        <translation>the current run</translation>
    </message>
    <message>
        <source>記録を読んでいます: %1</source>
        <translation>Reading the record: %1</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>応答なし</source>
        <translation>No reply</translation>
    </message>
    <message>
        <source>ユニット切断</source>
        <translation>Unit lost</translation>
    </message>
    <message>
        <source>ユニット復帰</source>
        <translation>Unit back</translation>
    </message>
    <message>
        <source>時計の巻き戻し</source>
        <translation>Clock set back</translation>
    </message>
    <message>
        <source>トレンド</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>記録を開く…</source>
        <translation>Open record…</translation>
    </message>
    <message>
        <source>記録ファイル (CSV) を開きます (Ctrl+O)</source>
        <translation>Opens run records (CSV) (Ctrl+O)</translation>
    </message>
    <message>
        <source>記録を閉じる</source>
        <translation>Close records</translation>
    </message>
    <message>
        <source>書き出し</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>画像 (PNG)…</source>
        <translation>Picture (PNG)…</translation>
    </message>
    <message>
        <source>PDF…</source>
        <translation>PDF…</translation>
    </message>
    <message>
        <source>SVG…</source>
        <translation>SVG…</translation>
    </message>
    <message>
        <source>表示範囲の CSV…</source>
        <translation>Visible range as CSV…</translation>
    </message>
    <message>
        <source>時刻</source>
        <translation>Clock time</translation>
    </message>
    <message>
        <source>START からの秒数</source>
        <translation>Seconds since START</translation>
    </message>
    <message>
        <source>追従</source>
        <translation>Follow</translation>
    </message>
    <message>
        <source>最新のサンプルを表示し続けます (End)</source>
        <translation>Keeps the newest samples in view (End)</translation>
    </message>
    <message>
        <source>1 分</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>10 分</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>1 時間</source>
        <translation>1 h</translation>
    </message>
    <message>
        <source>全体</source>
        <translation>All</translation>
    </message>
    <message>
        <source>全体を表示</source>
        <translation>Fit all</translation>
    </message>
    <message>
        <source>全体を表示します (Home, ダブルクリック)</source>
        <translation>Shows everything (Home, double click)</translation>
    </message>
    <message>
        <source>電圧の自動調整</source>
        <translation>Auto-scale volts</translation>
    </message>
    <message>
        <source>ボルト表示</source>
        <translation>Volts</translation>
    </message>
    <message>
        <source>各チャンネルの単位ではなく、読み取った電圧 (V) のまま表示します</source>
        <translation>Shows the readings in volts, as read, rather than in each channel&apos;s unit</translation>
    </message>
    <message>
        <source>時間軸:</source>
        <translation>Time axis:</translation>
    </message>
    <message>
        <source>電圧 (V)</source>
        <translation>Volts (V)</translation>
    </message>
    <message>
        <source> (オフ)</source>
        <translation> (off)</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>フレームなし</source>
        <translation>No frame</translation>
    </message>
    <message>
        <source>クリックでカーソル A、Ctrl+クリックでカーソル B</source>
        <translation>Click: cursor A, Ctrl+click: cursor B</translation>
    </message>
    <message>
        <source>記録を開く</source>
        <translation>Open records</translation>
    </message>
    <message>
        <source>記録ファイル (*.csv);;すべてのファイル (*)</source>
        <translation>Run records (*.csv);;All files (*)</translation>
    </message>
    <message>
        <source>表示している範囲にサンプルがありません</source>
        <translation>No samples in the visible range</translation>
    </message>
    <message>
        <source>すでにあります: %1
置き換えますか?</source>
        <translation>Already there: %1
Replace?</translation>
    </message>
</context>
</TS>
