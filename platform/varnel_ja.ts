<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Messages</name>
    <message>
        <source>varnel: %1: the log cannot be written in its code page (CP932); its Japanese is written as ?</source>
        <translation>varnel: %1: ログをその文字コード (CP932) で書けません。日本語は ? として書かれます</translation>
    </message>
    <message>
        <source>not set</source>
        <translation>未設定</translation>
    </message>
    <message>
        <source>varnel: cannot open a display (WAYLAND_DISPLAY=%1, DISPLAY=%2); start it from a desktop session</source>
        <translation>varnel: ディスプレイを開けません (WAYLAND_DISPLAY=%1、DISPLAY=%2)。デスクトップのセッションから起動してください</translation>
    </message>
    <message>
        <source> (process %1)</source>
        <translation> (プロセス %1)</translation>
    </message>
    <message>
        <source>varnel: waiting for the open copy%1 to close</source>
        <translation>varnel: 開いている Varnel%1 が閉じるのを待っています</translation>
    </message>
    <message>
        <source>Varnel is already open%1</source>
        <translation>Varnel はすでに開いています%1</translation>
    </message>
    <message>
        <source>varnel: the open copy%1 does not answer</source>
        <translation>varnel: 開いている Varnel%1 が応答しません</translation>
    </message>
    <message>
        <source>varnel: the open copy%1 answered: %2</source>
        <translation>varnel: 開いている Varnel%1 の応答: %2</translation>
    </message>
    <message>
        <source>varnel: one window per user cannot be kept: %1</source>
        <translation>varnel: ウィンドウを 1 つに保てません: %1</translation>
    </message>
    <message>
        <source>varnel: no wall-clock timer: %1</source>
        <translation>varnel: 時刻に合わせるタイマーを使えません: %1</translation>
    </message>
    <message>
        <source>Displays this help.</source>
        <translation>このヘルプを表示します。</translation>
    </message>
    <message>
        <source>Starts one chosen program once a day at a chosen time of day.
Type the time (HH:MM) and the program&apos;s path in the window, press Start (開始) and leave the window open.</source>
        <translation>選んだプログラムを毎日、選んだ時刻に一度起動します。
ウィンドウに時刻 (HH:MM) とプログラムのパスを入力し、「開始」を押して、ウィンドウを開いたままにしてください。</translation>
    </message>
</context>
</TS>
