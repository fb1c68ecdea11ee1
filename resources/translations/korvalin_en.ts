<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>AboutDialog</name>
    <message>
        <source>バージョン情報</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Korvalin Loader</source>
        <translation>Korvalin Loader</translation>
    </message>
    <message>
        <source>KorvalinLoader Version 1.0.1</source>
        <translation>KorvalinLoader Version 1.0.1</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>CalibrationDialog</name>
    <message>
        <source>KVN -OSC Calibration-</source>
        <translation>KVN -OSC Calibration-</translation>
    </message>
    <message>
        <source>OSC校正値 (RETLW 34xx) :</source>
        <translation>OSC cal. (RETLW 34xx) :</translation>
    </message>
    <message>
        <source>BG ビット :</source>
        <translation>BG bits :</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ConfigWordDialog</name>
    <message>
        <source>KVN -Configuration Word-</source>
        <translation>KVN -Configuration Word-</translation>
    </message>
    <message>
        <source>Configuation Word (bit)</source>
        <translation>Configuration Word (bit)</translation>
    </message>
    <message>
        <source>bit13-12</source>
        <translation>bit13-12</translation>
    </message>
    <message>
        <source>bit11-8</source>
        <translation>bit11-8</translation>
    </message>
    <message>
        <source>bit7-4</source>
        <translation>bit7-4</translation>
    </message>
    <message>
        <source>bit3-0</source>
        <translation>bit3-0</translation>
    </message>
    <message>
        <source>PIC16F628</source>
        <translation>PIC16F628</translation>
    </message>
    <message>
        <source>Configruation Word :</source>
        <translation>Configuration Word :</translation>
    </message>
    <message>
        <source>Static</source>
        <translation>Static</translation>
    </message>
    <message>
        <source> 0 </source>
        <translation> 0 </translation>
    </message>
    <message>
        <source>[*1324567]</source>
        <translation>[*1324567]</translation>
    </message>
    <message>
        <source>プロテクトを使用しない。</source>
        <translation>Do not use code protection.</translation>
    </message>
    <message>
        <source>次</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>DeviceIdDialog</name>
    <message>
        <source>KVN -Device ID-</source>
        <translation>KVN -Device ID-</translation>
    </message>
    <message>
        <source>PIC16F628</source>
        <translation>PIC16F628</translation>
    </message>
    <message>
        <source>Device IDをチェックしない。</source>
        <translation>Do not check the Device ID.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>KorvalinLoader</source>
        <translation>KorvalinLoader</translation>
    </message>
    <message>
        <source>Program Memorys</source>
        <translation>Program Memorys</translation>
    </message>
    <message>
        <source>EEPROM Memorys</source>
        <translation>EEPROM Memorys</translation>
    </message>
    <message>
        <source>File Open</source>
        <translation>File Open</translation>
    </message>
    <message>
        <source>File Save</source>
        <translation>File Save</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Verify</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>Erase</source>
        <translation>Erase</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Static</source>
        <translation>Static</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Socket / ICSP :</source>
        <translation>Socket / ICSP :</translation>
    </message>
    <message>
        <source>Configruation Word :</source>
        <translation>Configuration Word :</translation>
    </message>
    <message>
        <source>Device ID :</source>
        <translation>Device ID :</translation>
    </message>
    <message>
        <source>User ID :</source>
        <translation>User ID :</translation>
    </message>
</context>
<context>
    <name>TestPanelDialog</name>
    <message>
        <source>KVN テスト</source>
        <translation>KVN Test</translation>
    </message>
    <message>
        <source>LED</source>
        <translation>LED</translation>
    </message>
    <message>
        <source>DC-DC</source>
        <translation>DC-DC</translation>
    </message>
    <message>
        <source>MCLR</source>
        <translation>MCLR</translation>
    </message>
    <message>
        <source>5VCTL</source>
        <translation>5VCTL</translation>
    </message>
    <message>
        <source>Socket</source>
        <translation>Socket</translation>
    </message>
    <message>
        <source>ON</source>
        <translation>ON</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>OFF</translation>
    </message>
    <message>
        <source>VPP</source>
        <translation>VPP</translation>
    </message>
    <message>
        <source>RESET</source>
        <translation>RESET</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>8/18Pin</source>
        <translation>8/18Pin</translation>
    </message>
    <message>
        <source>28/40Pin</source>
        <translation>28/40Pin</translation>
    </message>
    <message>
        <source>ICSP</source>
        <translation>ICSP</translation>
    </message>
    <message>
        <source>書き込みするディバイスを繋いだまま テストを行わないようにしてください。</source>
        <translation>Do not run the test with a device to be programmed connected.</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>UsbSetupDialog</name>
    <message>
        <source>KVN -USB-</source>
        <translation>KVN -USB-</translation>
    </message>
    <message>
        <source>場所</source>
        <translation>Location</translation>
    </message>
    <message>
        <source>USB ID</source>
        <translation>USB ID</translation>
    </message>
    <message>
        <source>メーカー</source>
        <translation>Maker</translation>
    </message>
    <message>
        <source>製品</source>
        <translation>Product</translation>
    </message>
    <message>
        <source>シリアル番号</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>アクセス</source>
        <translation>Access</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>再検索(&amp;R)</source>
        <translation>&amp;Rescan</translation>
    </message>
    <message>
        <source>問い合わせ(&amp;P)</source>
        <translation>&amp;Probe</translation>
    </message>
    <message>
        <source>これを使う(&amp;S)</source>
        <translation>U&amp;se This</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>UserIdDialog</name>
    <message>
        <source>KVN -User ID-</source>
        <translation>KVN -User ID-</translation>
    </message>
    <message>
        <source>PIC16F628</source>
        <translation>PIC16F628</translation>
    </message>
    <message>
        <source>User ID :</source>
        <translation>User ID :</translation>
    </message>
    <message>
        <source>Static</source>
        <translation>Static</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>2003 : 2002 : 2001 : 2000</source>
        <translation>2003 : 2002 : 2001 : 2000</translation>
    </message>
    <message>
        <source>Data</source>
        <translation>Data</translation>
    </message>
    <message>
        <source>F</source>
        <translation>F</translation>
    </message>
    <message>
        <source>User IDを使用しない。</source>
        <translation>Do not use the User ID.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>VerifyErrorDialog</name>
    <message>
        <source>Verify Error</source>
        <translation>Verify Error</translation>
    </message>
    <message>
        <source>Program Memorys : </source>
        <translation>Program Memorys : </translation>
    </message>
    <message>
        <source>Static</source>
        <translation>Static</translation>
    </message>
    <message>
        <source>EEPROM Memorys :</source>
        <translation>EEPROM Memorys :</translation>
    </message>
    <message>
        <source>Config Word : </source>
        <translation>Config Word : </translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
