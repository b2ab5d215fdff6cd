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
        <source>記録中のため削除しません: %1</source>
        <translation>Recording, not deleted: %1</translation>
    </message>
    <message>
        <source>MQTT送信待ちが満杯です: 古いデータから破棄します</source>
        <translation>MQTT queue full: dropping oldest samples</translation>
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
</context>
<context>
    <name>log_pane::FindBar</name>
    <message>
        <source>検索</source>
        <translation>Find</translation>
    </message>
</context>
</TS>
