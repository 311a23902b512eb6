<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="ja_JP">
  <context>
    <name>AdapterGuidance</name>
    <message>
      <source>No adapter found. Plug it in and give it a driver (USB ID 04B4:8613): either the chip maker's generic USB driver, installed from its setup program, or WinUSB, bound to the adapter with Zadig (Options &gt; List All Devices, choose the adapter, WinUSB, Install Driver). Then plug it in again. Without an adapter, try brantle-sim or brantle-cli --sim.</source>
      <translation>アダプターが見つかりません。アダプターを接続し、ドライバー (USB ID 04B4:8613) を入れてください。チップメーカーの汎用 USB ドライバーをそのセットアップ プログラムからインストールするか、Zadig で WinUSB をアダプターに割り当てます (Options &gt; List All Devices でアダプターを選び、WinUSB を選んで Install Driver)。その後、アダプターを接続し直してください。アダプターなしで試すには brantle-sim または brantle-cli --sim を使います。</translation>
    </message>
    <message>
      <source>No adapter found. Plug it in (USB ID 04B4:8613). If it is plugged in, you may lack the right to use it: install the udev rule (the package does; else copy packaging/60-brantle.rules to /etc/udev/rules.d/ and run "udevadm control --reload-rules &amp;&amp; udevadm trigger"), then plug it in again. Without an adapter, try brantle-sim or brantle-cli --sim.</source>
      <translation>アダプターが見つかりません。アダプター (USB ID 04B4:8613) を接続してください。接続済みの場合は使用する権限がない可能性があります。udev ルールをインストールしてください (パッケージでは自動でインストールされます。それ以外の場合は packaging/60-brantle.rules を /etc/udev/rules.d/ にコピーし、"udevadm control --reload-rules &amp;&amp; udevadm trigger" を実行します)。その後、アダプターを接続し直してください。アダプターなしで試すには brantle-sim または brantle-cli --sim を使います。</translation>
    </message>
  </context>
  <context>
    <name>Brantle</name>
    <message>
      <source>Error: The data is too large for the USB device. (%1 byte, limit %2 byte)</source>
      <translation>エラー：　USBデバイスに対してデータが大きすぎます。(%1バイト、上限%2バイト)</translation>
    </message>
    <message>
      <source>Error: The USB device has no endpoint for the transfer.</source>
      <translation>エラー：　USBデバイスに転送用のエンドポイントがありません。</translation>
    </message>
    <message>
      <source>Error: Fain to send 4byte data of in-out number of byte to USB device.</source>
      <translation>エラー：　USBデバイスへ送受信数データ4バイトの送信に失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to send Brantle data to USB device. </source>
      <translation>エラー：　USBデバイスへBrantleデータ送信に失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to receive Brantle data from USB device.</source>
      <translation>エラー：　USBデバイスからBrantleデータ受信に失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to receive %1 byte data from USB device.(only %2 byte)</source>
      <translation>エラー：　USBデバイスから%1バイトのデータ読み出し時に、%2バイトしか読み出せませんでした</translation>
    </message>
    <message>
      <source>Error: Error has occured in firmware in USB device</source>
      <translation>エラー：　USBデバイス内ファームウェアでエラーが発生しました</translation>
    </message>
    <message>
      <source>Error: Device not found.</source>
      <translation>エラー：　デバイスが見つかりませんでした。</translation>
    </message>
    <message>
      <source>Error: Fail to inquiry type of firmware.</source>
      <translation>エラー：　ファームウェア種類問い合わせに失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to CPUCS=1.</source>
      <translation>エラー：　FX2のファーム転送前のリセット状態へする転送失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to send firmware.</source>
      <translation>エラー：　FX2のファーム転送に失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to CPUCS=0.</source>
      <translation>エラー：　FX2のファーム転送後のリセット解除転送に失敗しました。</translation>
    </message>
    <message>
      <source>Error: Fail to SetAltIntfc().</source>
      <translation>エラー：　FX2のファーム転送後のAltIntfc設定失敗しました。</translation>
    </message>
    <message>
      <source>Error: 0x00 of the escape code is used alone. </source>
      <translation>エラー：　エスケープコードの0x00が単独で使われています。</translation>
    </message>
    <message>
      <source>Error: The data part of the I2C read is not 0xFF. </source>
      <translation>エラー：　I2Cリードのデータ部分が0xFFになっていません。</translation>
    </message>
    <message>
      <source>Devices</source>
      <translation>デバイス</translation>
    </message>
    <message>
      <source>Unexpected error occured.</source>
      <translation>原因不明のエラーが発生しました。</translation>
    </message>
    <message>
      <source>Text files (*.txt)</source>
      <translation>テキストファイル (*.txt)</translation>
    </message>
    <message>
      <source>CSV files (*.csv)</source>
      <translation>CSVファイル (*.csv)</translation>
    </message>
    <message>
      <source>Save Log</source>
      <translation>ログの保存</translation>
    </message>
    <message>
      <source>Cannot save the log: %1</source>
      <translation>ログを保存できません: %1</translation>
    </message>
    <message>
      <source>Send the script (%1)</source>
      <translation>スクリプトを送信 (%1)</translation>
    </message>
    <message>
      <source>&amp;Quit</source>
      <translation>終了(&amp;Q)</translation>
    </message>
    <message>
      <source>Close</source>
      <translation>閉じる</translation>
    </message>
    <message>
      <source>The script has changed since it was last opened or saved. Save it before closing?</source>
      <translation>スクリプトは最後に開いたか保存した後に変更されています。閉じる前に保存しますか？</translation>
    </message>
    <message>
      <source> ms</source>
      <translation> ms</translation>
    </message>
    <message>
      <source>Auto sends once in this period (20 ms to 60 s).</source>
      <translation>Auto はこの周期で一回ずつ送信します (20 ms〜60 s)。</translation>
    </message>
    <message>
      <source>&amp;EEPROM...</source>
      <translation>EEPROM(&amp;E)...</translation>
    </message>
    <message>
      <source>&amp;Registers...</source>
      <translation>レジスタ(&amp;R)...</translation>
    </message>
  </context>
  <context>
    <name>Brantle2</name>
    <message>
      <source>Parse Error: It was not possible to interpret it. </source>
      <translation>文法エラー：　解釈出来ませんでした。</translation>
    </message>
    <message>
      <source>Parse Error: Hex data must be specify by of two digits. </source>
      <translation>文法エラー：　バイトデータは二桁の16進数で指定する必要があります。</translation>
    </message>
    <message>
      <source>Parse Error: The script is too long. </source>
      <translation>文法エラー：　スクリプトが長すぎます。</translation>
    </message>
    <message>
      <source>Parse Error: Stop condition occured on waiting start condition.</source>
      <translation>文法エラー：　スタートコンディション待ち時にストップコンディションが発生しました。</translation>
    </message>
    <message>
      <source>Parse Error: Start condition occured on waiting slave address.</source>
      <translation>文法エラー：　アドレス待ち時にスタートコンディションが発生しました。</translation>
    </message>
    <message>
      <source>Parse Error: '%1' was not possible to interpret it. </source>
      <translation>文法エラー：　%1のコマンドを解釈出来ませんでした。</translation>
    </message>
    <message>
      <source>Parse Error: Index=%1, Length=%2, %3</source>
      <translation>文法エラー：　Index=%1, Length=%2, %3</translation>
    </message>
    <message>
      <source>Parse Error: Index=%1, Length=%2, Unexpected error.</source>
      <translation>文法エラー：　Index=%1, Length=%2, 原因不明のエラーです。</translation>
    </message>
    <message>
      <source>Parse Error: Stop condition occured on waiting sllave address.</source>
      <translation>文法エラー：　アドレス待ち時にストップコンディションが発生しました。</translation>
    </message>
    <message>
      <source>Parse Error: The start condition cannot be specified immediately after the address of the slave (read). </source>
      <translation>文法エラー：　スレーブアドレス(リード)直後にスタートコンディションは指定出来ません。</translation>
    </message>
    <message>
      <source>Parse Error: The stop condition cannot be specified immediately after the address of the slave (read). </source>
      <translation>文法エラー：　スレーブアドレス(リード)直後にストップコンディションは指定出来ません。</translation>
    </message>
    <message>
      <source>Parse Error: Start condition occured on waiting stop condition or data.</source>
      <translation>文法エラー：　リードのストップコンディション、データ出力待ちにてスタートコンディションが発生しました。</translation>
    </message>
  </context>
  <context>
    <name>BrantleClass</name>
    <message>
      <source>Brantle</source>
      <translation type="unfinished" />
    </message>
    <message>
      <source>&lt;!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0//EN" "http://www.w3.org/TR/REC-html40/strict.dtd"&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name="qrichtext" content="1" /&gt;&lt;style type="text/css"&gt;
p, li { white-space: pre-wrap; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=" font-family:'MS UI Gothic'; font-size:9pt; font-weight:400; font-style:normal;"&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// Write here I2C text you want to output.&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;//&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// Comment start with '//'.&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// ';' means stop condition.&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// ',' means restart condition. &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// Wait command&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// [wait TIME(Unit:msec, minimum: 0.02msec)] &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;//&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// About 6000 bytes are the output limits. &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// The following are examples of reading EEPROM.&lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// I2C Read with start condition.(16byte x 4) &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;A2 00 00 ; A3 &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ; &lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;[wait 5] // wait 5 msec&lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// I2C Read with restart condition (16byte x 4) &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;A2 00 00 , A3 &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
      <translation>&lt;!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0//EN" "http://www.w3.org/TR/REC-html40/strict.dtd"&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name="qrichtext" content="1" /&gt;&lt;style type="text/css"&gt;
p, li { white-space: pre-wrap; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=" font-family:'MS UI Gothic'; font-size:9pt; font-weight:400; font-style:normal;"&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// ここに出力したいI2Cテキストを書きます。&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;//&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// ←この記号の後、改行まではコメントです。&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// &amp;quot;;&amp;quot;はストップコンディションです。&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// &amp;quot;,&amp;quot;はリスタートコンディションです。&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// ウェイトコマンド&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// [wait 時間(msec単位、最小0.02msec)] &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;//&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// およそ6000バイトほどが出力限界です。&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// 下記はEEPROMを読み込み例です。&lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// リスタートを使わない読み込み(16byte x 4) &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;A2 00 00 ; A3 &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ; &lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;[wait 5] // 5ミリ秒ウェイト&lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style="-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;&lt;br /&gt;&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;//リスタートを使う読み込み(16byte x 4) &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;A2 00 00 , A3 &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
      <source>&lt;!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0//EN" "http://www.w3.org/TR/REC-html40/strict.dtd"&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name="qrichtext" content="1" /&gt;&lt;style type="text/css"&gt;
p, li { white-space: pre-wrap; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=" font-family:'MS UI Gothic'; font-size:9pt; font-weight:400; font-style:normal;"&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// The output result is displayed here. &lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// FF of I2C read is overwrited by I2C read data.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
      <translation>&lt;!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0//EN" "http://www.w3.org/TR/REC-html40/strict.dtd"&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name="qrichtext" content="1" /&gt;&lt;style type="text/css"&gt;
p, li { white-space: pre-wrap; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=" font-family:'MS UI Gothic'; font-size:9pt; font-weight:400; font-style:normal;"&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// ここに出力結果が表示されます。&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// I2CリードのFF部分が読み込みデータで上書き&lt;/p&gt;
&lt;p style=" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;"&gt;// 表示されます。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
      <source>2009/04/06 00:00:00
Ready</source>
      <translation type="unfinished" />
    </message>
    <message>
      <source>Send</source>
      <translation>出力</translation>
    </message>
    <message>
      <source>Auto</source>
      <translation>自動出力</translation>
    </message>
    <message>
      <source>Clock</source>
      <translation>クロック</translation>
    </message>
    <message>
      <source>Command</source>
      <translation>コマンド</translation>
    </message>
    <message>
      <source>&amp;File</source>
      <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
      <source>&amp;Help</source>
      <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
      <source>Open Send Text</source>
      <translation>出力テキストを開く</translation>
    </message>
    <message>
      <source>Open Result Text</source>
      <translation>結果テキストを開く</translation>
    </message>
    <message>
      <source>Save Send Text</source>
      <translation>出力テキストを保存する</translation>
    </message>
    <message>
      <source>Save Result Text</source>
      <translation>結果テキストを保存する</translation>
    </message>
    <message>
      <source>&amp;Product Info</source>
      <translation>製品情報(&amp;P)</translation>
    </message>
    <message>
      <source>About &amp;Qt</source>
      <translation>Qtについて(&amp;Q)</translation>
    </message>
    <message>
      <source>&amp;View</source>
      <translation>表示(&amp;V)</translation>
    </message>
    <message>
      <source>Device Toolbar</source>
      <translation>デバイスツールバー</translation>
    </message>
    <message>
      <source>Save Log...</source>
      <translation>ログを保存...</translation>
    </message>
    <message>
      <source>&amp;Tools</source>
      <translation>ツール(&amp;T)</translation>
    </message>
    <message>
      <source>&amp;Scan Bus...</source>
      <translation>バスをスキャン(&amp;S)...</translation>
    </message>
  </context>
  <context>
    <name>BusScanDialog</name>
    <message>
      <source>Bus Scan</source>
      <translation>バススキャン</translation>
    </message>
    <message>
      <source>Quick write</source>
      <translation>クイックライト</translation>
    </message>
    <message>
      <source>Read one byte</source>
      <translation>1バイト読み込み</translation>
    </message>
    <message>
      <source>Adapter:</source>
      <translation>アダプター:</translation>
    </message>
    <message>
      <source>Clock:</source>
      <translation>クロック:</translation>
    </message>
    <message>
      <source>Probe:</source>
      <translation>確認方法:</translation>
    </message>
    <message>
      <source>Rescan</source>
      <translation>再スキャン</translation>
    </message>
    <message>
      <source>Close</source>
      <translation>閉じる</translation>
    </message>
    <message>
      <source>none</source>
      <translation>なし</translation>
    </message>
    <message>
      <source>Scanning...</source>
      <translation>スキャン中...</translation>
    </message>
    <message>
      <source>No address answered.</source>
      <translation>応答したアドレスはありません。</translation>
    </message>
    <message>
      <source>Answered: %1</source>
      <translation>応答あり: %1</translation>
    </message>
  </context>
  <context>
    <name>Dialog</name>
    <message>
      <source>Product Information</source>
      <translation>製品情報</translation>
    </message>
    <message>
      <source>XXXXXXXXXX</source>
      <translation type="unfinished" />
    </message>
    <message>
      <source>Version X.X.X.X</source>
      <translation type="unfinished" />
    </message>
    <message>
      <source>Copyright</source>
      <translation type="unfinished" />
    </message>
    <message>
      <source>&lt;a href="dummy"&gt;Homepage&lt;/a&gt;</source>
      <translation>&lt;a href="dummy"&gt;ホームページ&lt;/a&gt;</translation>
    </message>
    <message>
      <source>This program uses &lt;a href="https://www.qt.io/"&gt;Qt&lt;/a&gt; under LGPL license.</source>
      <translation>このプログラムはLGPLライセンスの下に&lt;a href="https://www.qt.io/"&gt;Qt&lt;/a&gt;を使用します。</translation>
    </message>
    <message>
      <source>Close</source>
      <translation>閉じる</translation>
    </message>
  </context>
  <context>
    <name>FileSaver</name>
    <message>
      <source>The file was left as it was.</source>
      <translation>ファイルは元のまま残されています。</translation>
    </message>
    <message>
      <source>The old file was kept unchanged.</source>
      <translation>元のファイルは変更されずに残されています。</translation>
    </message>
    <message>
      <source>its folder does not take a new file</source>
      <translation>フォルダーに新しいファイルを作成できない</translation>
    </message>
    <message>
      <source>it has more than one link</source>
      <translation>ファイルに複数のリンクがある</translation>
    </message>
    <message>
      <source>a new file would have another owner or group</source>
      <translation>新しいファイルでは所有者またはグループが変わってしまう</translation>
    </message>
    <message>
      <source>Its old content was put back.</source>
      <translation>元の内容に戻しました。</translation>
    </message>
    <message>
      <source>Its old content could not be put back: the file is incomplete.</source>
      <translation>元の内容に戻せませんでした。ファイルは不完全です。</translation>
    </message>
    <message>
      <source>The file could not be replaced because %1, so it was written in place; its old content was put back.</source>
      <translation>%1ため、ファイルを置き換えずにその場で書き込みました。元の内容に戻しました。</translation>
    </message>
    <message>
      <source>The file could not be replaced because %1, so it was written in place; its old content could not be put back: the file is incomplete.</source>
      <translation>%1ため、ファイルを置き換えずにその場で書き込みました。元の内容に戻せなかったため、ファイルは不完全です。</translation>
    </message>
  </context>
  <context>
    <name>FormProductInfo</name>
    <message>
      <source>Product Information</source>
      <translation>製品情報</translation>
    </message>
    <message>
      <source>Version %1</source>
      <translation>バージョン %1</translation>
    </message>
  </context>
  <context>
    <name>LibusbStack</name>
    <message>
      <source>The adapter at USB port %1 is in use by another program, or you may not use it.</source>
      <translation>USB ポート %1 のアダプターは別のプログラムが使用中か、使用する権限がありません。</translation>
    </message>
  </context>
  <context>
    <name>MyQTextEdit</name>
    <message>
      <source>File Open Error</source>
      <translation>ファイルオープンエラー</translation>
    </message>
    <message>
      <source>Cannot open file for reading: %1</source>
      <translation>読み込み用にファイルを開くことができません: %1</translation>
    </message>
    <message>
      <source>Cannot open file for writing: %1</source>
      <translation>書込み用にファイルを開くことができません: %1</translation>
    </message>
    <message>
      <source>Cannot save the text in this system's encoding (%1): it cannot hold the character "%2". Nothing was written.</source>
      <translation>このシステムの文字コード (%1) ではテキストを保存できません。文字「%2」を表せないためです。何も書き込んでいません。</translation>
    </message>
  </context>
  <context>
    <name>TransactionLog</name>
    <message>
      <source>Time</source>
      <translation>時刻</translation>
    </message>
    <message>
      <source>Outcome</source>
      <translation>結果</translation>
    </message>
    <message>
      <source>Bytes received</source>
      <translation>受信バイト</translation>
    </message>
    <message>
      <source>%1, %2 kHz
Sent: %3</source>
      <translation>%1、%2 kHz
送信: %3</translation>
    </message>
    <message>
      <source>no adapter</source>
      <translation>アダプターなし</translation>
    </message>
    <message>
      <source>its columns are not those of this run (%1)</source>
      <translation>列がこの実行のもの (%1) と異なります</translation>
    </message>
  </context>
  <context>
    <name>TransactionLogPane</name>
    <message>
      <source>Transaction Log</source>
      <translation>通信ログ</translation>
    </message>
    <message>
      <source>Clear</source>
      <translation>消去</translation>
    </message>
  </context>
  <context>
    <name>WindowCommandLine</name>
    <message>
      <source>The parts on the simulated bus, from FILE (one a line: 'eeprom 24c64 0x50 contents=FILE', 'sensor 0x48').</source>
      <translation>シミュレートしたバス上の部品を FILE から読みます (1 行に 1 つ: 'eeprom 24c64 0x50 contents=FILE'、'sensor 0x48')。</translation>
    </message>
    <message>
      <source>Give the simulated EEPROMs their factory contents first.</source>
      <translation>最初にシミュレートした EEPROM を工場出荷時の内容に戻します。</translation>
    </message>
    <message>
      <source>The options of the Qt toolkit apply as well. See %1(1) for the window, and brantle-cli(1) for the script language and its limits.</source>
      <translation>Qt ツールキットのオプションも使えます。ウィンドウについては %1(1)、スクリプト言語とその制限については brantle-cli(1) を参照してください。</translation>
    </message>
    <message>
      <source>Try '%1 --help' for more information.</source>
      <translation>詳しくは '%1 --help' を実行してください。</translation>
    </message>
    <message>
      <source>Runs I2C scripts on the EZ-USB FX2 adapters plugged in.</source>
      <translation>接続された EZ-USB FX2 アダプタで I2C スクリプトを実行します。</translation>
    </message>
    <message>
      <source>Brantle on a simulated adapter (EEPROM at 0x51, sensor at 0x48).</source>
      <translation>シミュレートしたアダプタ（0x51 に EEPROM、0x48 にセンサ）で動く Brantle。</translation>
    </message>
    <message>
      <source>Download the firmware image in FILE instead of the built-in one.</source>
      <translation>内蔵のものの代わりに FILE のファームウェアイメージをダウンロードします。</translation>
    </message>
    <message>
      <source>Script file to open in the script editor.</source>
      <translation>スクリプトエディタに開くスクリプトファイル。</translation>
    </message>
  </context>
  <context>
    <name>WatchChannel</name>
    <message>
      <source>watch: &apos;%1&apos; is given twice.</source>
      <translation>watch: &apos;%1&apos; が二回指定されています。</translation>
    </message>
    <message>
      <source>watch: &apos;%1&apos; takes no value.</source>
      <translation>watch: &apos;%1&apos; には値を付けません。</translation>
    </message>
    <message>
      <source>watch: unknown setting &apos;%1&apos;.</source>
      <translation>watch: 不明な設定 &apos;%1&apos; です。</translation>
    </message>
    <message>
      <source>watch: &apos;%1&apos; needs a value.</source>
      <translation>watch: &apos;%1&apos; には値が必要です。</translation>
    </message>
    <message>
      <source>watch: bytes must be N or FIRST-LAST, counted from 1, at most %1 bytes.</source>
      <translation>watch: bytes は N または 先頭-末尾 (1 から数え、最大 %1 バイト) で指定してください。</translation>
    </message>
    <message>
      <source>watch: order must be be or le.</source>
      <translation>watch: order は be または le です。</translation>
    </message>
    <message>
      <source>watch: shift must be a whole number from 0 to 63.</source>
      <translation>watch: shift は 0〜63 の整数です。</translation>
    </message>
    <message>
      <source>watch: &apos;%1&apos; is not a number.</source>
      <translation>watch: &apos;%1&apos; は数値ではありません。</translation>
    </message>
    <message>
      <source>watch: name= is missing.</source>
      <translation>watch: name= がありません。</translation>
    </message>
    <message>
      <source>watch: bytes= is missing.</source>
      <translation>watch: bytes= がありません。</translation>
    </message>
    <message>
      <source>watch: shift must be less than the %1 bits of the bytes.</source>
      <translation>watch: shift はバイトのビット数 %1 より小さくしてください。</translation>
    </message>
    <message>
      <source>watch: a channel named &apos;%1&apos; is already watched.</source>
      <translation>watch: &apos;%1&apos; という名前のチャンネルは既にあります。</translation>
    </message>
    <message>
      <source>watch: &apos;%1&apos; needs byte %2, but the script reads %3.</source>
      <translation>watch: &apos;%1&apos; には %2 バイト目が必要ですが、スクリプトが読むのは %3 バイトです。</translation>
    </message>
  </context>
  <context>
    <name>ValuePlot</name>
    <message>
      <source>value</source>
      <translation>値</translation>
    </message>
    <message>
      <source>No values to show</source>
      <translation>表示する値がありません</translation>
    </message>
  </context>
  <context>
    <name>WatchPane</name>
    <message>
      <source>Watch</source>
      <translation>ウォッチ</translation>
    </message>
    <message>
      <source>Name</source>
      <translation>名前</translation>
    </message>
    <message>
      <source>Last value</source>
      <translation>最新値</translation>
    </message>
    <message>
      <source>Bytes</source>
      <translation>バイト</translation>
    </message>
    <message>
      <source>Signed</source>
      <translation>符号付き</translation>
    </message>
    <message>
      <source>Order</source>
      <translation>順序</translation>
    </message>
    <message>
      <source>Shift</source>
      <translation>シフト</translation>
    </message>
    <message>
      <source>Scale</source>
      <translation>倍率</translation>
    </message>
    <message>
      <source>Offset</source>
      <translation>オフセット</translation>
    </message>
    <message>
      <source>Unit</source>
      <translation>単位</translation>
    </message>
    <message>
      <source>10 s</source>
      <translation>10 秒</translation>
    </message>
    <message>
      <source>30 s</source>
      <translation>30 秒</translation>
    </message>
    <message>
      <source>1 min</source>
      <translation>1 分</translation>
    </message>
    <message>
      <source>5 min</source>
      <translation>5 分</translation>
    </message>
    <message>
      <source>10 min</source>
      <translation>10 分</translation>
    </message>
    <message>
      <source>30 min</source>
      <translation>30 分</translation>
    </message>
    <message>
      <source>1 h</source>
      <translation>1 時間</translation>
    </message>
    <message>
      <source>Pause</source>
      <translation>一時停止</translation>
    </message>
    <message>
      <source>Resume</source>
      <translation>再開</translation>
    </message>
    <message>
      <source>Clear</source>
      <translation>消去</translation>
    </message>
    <message>
      <source>Save Plot...</source>
      <translation>グラフを保存...</translation>
    </message>
    <message>
      <source>Add</source>
      <translation>追加</translation>
    </message>
    <message>
      <source>Remove</source>
      <translation>削除</translation>
    </message>
    <message>
      <source>Window</source>
      <translation>表示幅</translation>
    </message>
    <message>
      <source>Row %1: %2</source>
      <translation>%1 行目: %2</translation>
    </message>
    <message>
      <source>(none)</source>
      <translation>(なし)</translation>
    </message>
    <message>
      <source>Save Plot</source>
      <translation>グラフを保存</translation>
    </message>
    <message>
      <source>PNG images (*.png)</source>
      <translation>PNG 画像 (*.png)</translation>
    </message>
    <message>
      <source>Cannot save the plot to %1.</source>
      <translation>グラフを %1 に保存できません。</translation>
    </message>
  </context>
  <context>
    <name>EepromPart</name>
    <message>
      <source>unknown part %1 (known: %2, or custom:SIZE:ADDRBYTES:PAGE)</source>
      <translation>不明な品種 %1 (既知: %2、または custom:SIZE:ADDRBYTES:PAGE)</translation>
    </message>
    <message>
      <source>%1: SIZE must be 1 to 524288 bytes, ADDRBYTES 1 or 2, PAGE at least 1</source>
      <translation>%1: SIZE は 1〜524288 バイト、ADDRBYTES は 1 か 2、PAGE は 1 以上にしてください</translation>
    </message>
    <message>
      <source>%1: a part larger than its address bytes reach (%2 bytes) must be 2, 4 or 8 times as large</source>
      <translation>%1: アドレスバイトで届く範囲 (%2 バイト) より大きい品種は、その 2、4、8 倍の大きさでなければなりません</translation>
    </message>
    <message>
      <source>%1: the page size must divide the size</source>
      <translation>%1: ページサイズはサイズを割り切る値にしてください</translation>
    </message>
    <message>
      <source>%1 at 0x%2: device addresses go from 0x08 to 0x77</source>
      <translation>0x%2 の %1: デバイスアドレスは 0x08〜0x77 です</translation>
    </message>
    <message>
      <source>%1 takes %2 device addresses; its address must be a multiple of %2 (0x%3, not 0x%4)</source>
      <translation>%1 はデバイスアドレスを %2 個使います。アドレスは %2 の倍数にしてください (0x%4 ではなく 0x%3)</translation>
    </message>
  </context>
  <context>
    <name>EepromProgrammer</name>
    <message>
      <source>%1 at %2</source>
      <translation>%2 の %1</translation>
    </message>
    <message>
      <source>%1 bytes from offset %2 do not fit in the %3 (%4 bytes; %5 from that offset)</source>
      <translation>オフセット %2 からの %1 バイトは %3 (%4 バイト、そのオフセットからは %5 バイト) に収まりません</translation>
    </message>
    <message>
      <source>Cancelled.</source>
      <translation>中止しました。</translation>
    </message>
    <message>
      <source>The %1 did not answer reading %2.</source>
      <translation>%1 は %2 の読み出しに応答しませんでした。</translation>
    </message>
    <message>
      <source>The %1 did not finish writing %2 within %3 ms: it did not acknowledge its address after the write.</source>
      <translation>%1 は %3 ms 以内に %2 の書き込みを終えませんでした: 書き込み後、アドレスに ACK を返しませんでした。</translation>
    </message>
    <message>
      <source>The %1 did not acknowledge the write of %2.</source>
      <translation>%1 は %2 の書き込みに ACK を返しませんでした。</translation>
    </message>
    <message>
      <source>Read back, %1 of the bytes written differ.</source>
      <translation>読み返すと、書き込んだバイトのうち %1 バイトが異なります。</translation>
    </message>
    <message>
      <source>%1 bytes differ.</source>
      <translation>%1 バイトが異なります。</translation>
    </message>
  </context>
  <context>
    <name>MemoryImage</name>
    <message>
      <source>line %1: %2</source>
      <translation>%1 行目: %2</translation>
    </message>
    <message>
      <source>records after the end record</source>
      <translation>終了レコードの後にレコードがあります</translation>
    </message>
    <message>
      <source>not an Intel HEX record</source>
      <translation>Intel HEX のレコードではありません</translation>
    </message>
    <message>
      <source>the record&apos;s length does not match its byte count</source>
      <translation>レコードの長さがバイト数と一致しません</translation>
    </message>
    <message>
      <source>checksum error</source>
      <translation>チェックサムエラー</translation>
    </message>
    <message>
      <source>an address record needs two bytes</source>
      <translation>アドレスレコードには 2 バイト必要です</translation>
    </message>
    <message>
      <source>unknown record type %1</source>
      <translation>不明なレコード種別 %1</translation>
    </message>
    <message>
      <source>no end record</source>
      <translation>終了レコードがありません</translation>
    </message>
    <message>
      <source>%1 bytes is larger than any part</source>
      <translation>%1 バイトはどの品種よりも大きすぎます</translation>
    </message>
  </context>
  <context>
    <name>RegisterAccess</name>
    <message>
      <source>The part at %1 did not answer reading register %2.</source>
      <translation>%1 のデバイスはレジスタ %2 の読み出しに応答しませんでした。</translation>
    </message>
    <message>
      <source>The part at %1 did not acknowledge the write of register %2.</source>
      <translation>%1 のデバイスはレジスタ %2 の書き込みに ACK を返しませんでした。</translation>
    </message>
    <message>
      <source>Register %1 reads back %2, not %3.</source>
      <translation>レジスタ %1 を読み返すと %3 ではなく %2 でした。</translation>
    </message>
    <message>
      <source>The part at %1 did not answer.</source>
      <translation>%1 のデバイスは応答しませんでした。</translation>
    </message>
  </context>
  <context>
    <name>SimBench</name>
    <message>
      <source>an EEPROM needs a part and an address: eeprom 24c64 0x50</source>
      <translation>EEPROM には品種とアドレスが必要です: eeprom 24c64 0x50</translation>
    </message>
    <message>
      <source>a sensor needs an address: sensor 0x48</source>
      <translation>センサーにはアドレスが必要です: sensor 0x48</translation>
    </message>
    <message>
      <source>unknown part kind %1 (eeprom or sensor)</source>
      <translation>不明な部品の種類 %1 (eeprom または sensor)</translation>
    </message>
    <message>
      <source>%1 is not a 7-bit device address from 0x08 to 0x77</source>
      <translation>%1 は 0x08〜0x77 の 7 ビットデバイスアドレスではありません</translation>
    </message>
    <message>
      <source>address 0x%1 is already taken by line %2</source>
      <translation>アドレス 0x%1 は %2 行目ですでに使われています</translation>
    </message>
    <message>
      <source>%1 is not a setting (key=value)</source>
      <translation>%1 は設定 (key=value) ではありません</translation>
    </message>
    <message>
      <source>contents= needs a file name</source>
      <translation>contents= にはファイル名が必要です</translation>
    </message>
    <message>
      <source>write-cycle= takes milliseconds from 0 to %1, not %2</source>
      <translation>write-cycle= には %2 ではなく 0〜%1 のミリ秒を指定してください</translation>
    </message>
    <message>
      <source>unknown EEPROM setting %1 (contents=FILE, write-cycle=MS)</source>
      <translation>不明な EEPROM の設定 %1 (contents=FILE, write-cycle=MS)</translation>
    </message>
    <message>
      <source>cannot read the bench file %1: %2</source>
      <translation>ベンチファイル %1 を読めません: %2</translation>
    </message>
    <message>
      <source>%1 is too large for a bench file</source>
      <translation>%1 はベンチファイルとしては大きすぎます</translation>
    </message>
    <message>
      <source>unknown sensor setting %1 (temperature=, drift=, noise=, turn=, seed=)</source>
      <translation>不明なセンサ設定 %1 (temperature=、drift=、noise=、turn=、seed=)</translation>
    </message>
    <message>
      <source>seed= takes a whole number, not %1</source>
      <translation>seed= には整数を指定します (%1 ではありません)</translation>
    </message>
    <message>
      <source>%1= takes a number from %2 to %3, not %4</source>
      <translation>%1= には %2 から %3 までの数を指定します (%4 ではありません)</translation>
    </message>
    <message>
      <source>cannot write %1: %2</source>
      <translation>%1 に書き込めません: %2</translation>
    </message>
    <message>
      <source>cannot read %1: %2</source>
      <translation>%1 を読めません: %2</translation>
    </message>
    <message>
      <source>%1 holds %2 bytes; the %3 on line %4 holds %5</source>
      <translation>%1 は %2 バイトですが、%4 行目の %3 は %5 バイトです</translation>
    </message>
  </context>
  <context>
    <name>BrantleSim</name>
    <message>
      <source>Reset</source>
      <translation>リセット</translation>
    </message>
    <message>
      <source>Reset Simulated EEPROMs</source>
      <translation>シミュレーションの EEPROM をリセット</translation>
    </message>
    <message>
      <source>The simulated EEPROMs hold their factory contents.</source>
      <translation>シミュレーションの EEPROM を工場出荷時の内容に戻しました。</translation>
    </message>
  </context>
  <context>
    <name>EepromDialog</name>
    <message>
      <source>%1 (%2 bytes)</source>
      <translation>%1 (%2 バイト)</translation>
    </message>
    <message>
      <source>%1 (%2 bytes, page %3)</source>
      <translation>%1 (%2 バイト、ページ %3)</translation>
    </message>
    <message>
      <source>%1 (not read back)</source>
      <translation>%1 (読み戻しなし)</translation>
    </message>
    <message>
      <source>%1 bytes differ between %2 and %3.</source>
      <translation>%2 と %3 で %1 バイトが異なります。</translation>
    </message>
    <message>
      <source>%1 bytes differ in all.
</source>
      <translation>合計 %1 バイトが異なります。
</translation>
    </message>
    <message>
      <source>%1 bytes of %2 match %3.</source>
      <translation>%2 の %1 バイトは %3 と一致します。</translation>
    </message>
    <message>
      <source>%1 holds no data.</source>
      <translation>%1 にはデータがありません。</translation>
    </message>
    <message>
      <source>%1: %2</source>
      <translation>%1: %2</translation>
    </message>
    <message>
      <source>%1: %2; nothing was written.</source>
      <translation>%1: %2。何も書き込んでいません。</translation>
    </message>
    <message>
      <source>0x%1: file 0x%2, part 0x%3
</source>
      <translation>0x%1: ファイル 0x%2、デバイス 0x%3
</translation>
    </message>
    <message>
      <source>1 address byte</source>
      <translation>アドレス 1 バイト</translation>
    </message>
    <message>
      <source>2 address bytes</source>
      <translation>アドレス 2 バイト</translation>
    </message>
    <message>
      <source>Cancel</source>
      <translation>キャンセル</translation>
    </message>
    <message>
      <source>Cancelled.</source>
      <translation>キャンセルしました。</translation>
    </message>
    <message>
      <source>Cancelled; no file was written.</source>
      <translation>キャンセルしました。ファイルは書き込んでいません。</translation>
    </message>
    <message>
      <source>Cannot write %1: %2</source>
      <translation>%1 に書き込めません: %2</translation>
    </message>
    <message>
      <source>Choose File</source>
      <translation>ファイルの選択</translation>
    </message>
    <message>
      <source>Close</source>
      <translation>閉じる</translation>
    </message>
    <message>
      <source>Custom</source>
      <translation>カスタム</translation>
    </message>
    <message>
      <source>Custom (size, address, page):</source>
      <translation>カスタム (容量、アドレス、ページ):</translation>
    </message>
    <message>
      <source>&amp;Device address:</source>
      <translation>デバイスアドレス(&amp;D):</translation>
    </message>
    <message>
      <source>EEPROM</source>
      <translation>EEPROM</translation>
    </message>
    <message>
      <source>From 0x%1 on, the part does not hold what was written.</source>
      <translation>0x%1 以降、デバイスの内容が書き込んだデータと異なります。</translation>
    </message>
    <message>
      <source>&amp;Length (read):</source>
      <translation>長さ (読み込み)(&amp;L):</translation>
    </message>
    <message>
      <source>Nothing to read from offset %1.</source>
      <translation>オフセット %1 から読み込むデータはありません。</translation>
    </message>
    <message>
      <source>Nothing was written and verified.</source>
      <translation>書き込みと照合を終えたデータはありません。</translation>
    </message>
    <message>
      <source>Written, but the read-back failed: %1.</source>
      <translation>書き込みましたが、読み戻しに失敗しました: %1。</translation>
    </message>
    <message>
      <source>&amp;Offset:</source>
      <translation>オフセット(&amp;O):</translation>
    </message>
    <message>
      <source>&amp;Part:</source>
      <translation>デバイス(&amp;P):</translation>
    </message>
    <message>
      <source>Raw binary (*.bin);;Intel HEX (*.hex);;All files (*)</source>
      <translation>バイナリ (*.bin);;Intel HEX (*.hex);;すべてのファイル (*)</translation>
    </message>
    <message>
      <source>Read %1 from the %2 at %3 into %4.</source>
      <translation>%3 の %2 から %1 を %4 に読み込みました。</translation>
    </message>
    <message>
      <source>Read &amp;back after writing</source>
      <translation>書き込み後に読み戻して照合する(&amp;B)</translation>
    </message>
    <message>
      <source>Read to File</source>
      <translation>ファイルに読み込み</translation>
    </message>
    <message>
      <source>&amp;Read to File...</source>
      <translation>ファイルに読み込み(&amp;R)...</translation>
    </message>
    <message>
      <source>Reading...</source>
      <translation>読み込み中...</translation>
    </message>
    <message>
      <source>The length must be a number from 1 to %1, not &quot;%2&quot;.</source>
      <translation>長さには 1 から %1 までの数を指定します (&quot;%2&quot; ではありません)。</translation>
    </message>
    <message>
      <source>The offset must be a number from 0 to %1, not &quot;%2&quot;.</source>
      <translation>オフセットには 0 から %1 までの数を指定します (&quot;%2&quot; ではありません)。</translation>
    </message>
    <message>
      <source>&amp;Verify against File...</source>
      <translation>ファイルと照合(&amp;V)...</translation>
    </message>
    <message>
      <source>Verifying...</source>
      <translation>照合中...</translation>
    </message>
    <message>
      <source>&amp;Write from File...</source>
      <translation>ファイルから書き込み(&amp;W)...</translation>
    </message>
    <message>
      <source>Writing...</source>
      <translation>書き込み中...</translation>
    </message>
    <message>
      <source>Written and verified: %1.</source>
      <translation>書き込みと照合を終えた範囲: %1。</translation>
    </message>
    <message>
      <source>Written: %1.</source>
      <translation>書き込んだ範囲: %1。</translation>
    </message>
    <message>
      <source>Wrote %1 of %2 (not read back).</source>
      <translation>%2 の %1 に書き込みました (読み戻しなし)。</translation>
    </message>
    <message>
      <source>Wrote and verified %1 of %2.</source>
      <translation>%2 の %1 に書き込み、照合しました。</translation>
    </message>
    <message>
      <source>the %1 at %2</source>
      <translation>%2 の %1</translation>
    </message>
    <message>
      <source>to the end</source>
      <translation>最後まで</translation>
    </message>
    <message>
      <source> bytes</source>
      <translation> バイト</translation>
    </message>
  </context>
  <context>
    <name>RegisterDialog</name>
    <message>
      <source>16-bit register &amp;addresses</source>
      <translation>16 ビットのレジスタアドレス(&amp;A)</translation>
    </message>
    <message>
      <source>16-bit value</source>
      <translation>16 ビット値</translation>
    </message>
    <message>
      <source>8-bit value</source>
      <translation>8 ビット値</translation>
    </message>
    <message>
      <source>Close</source>
      <translation>閉じる</translation>
    </message>
    <message>
      <source>&amp;Device address:</source>
      <translation>デバイスアドレス(&amp;D):</translation>
    </message>
    <message>
      <source>D&amp;ump</source>
      <translation>ダンプ(&amp;U)</translation>
    </message>
    <message>
      <source>Dump from 0x%1 to 0x%2: the last register must follow the first, and one dump takes at most %3 registers.</source>
      <translation>0x%1 から 0x%2 のダンプ: 最後のレジスタは最初のレジスタ以降とし、1 回のダンプは %3 レジスタまでです。</translation>
    </message>
    <message>
      <source>Dump &amp;from:</source>
      <translation>ダンプ範囲(&amp;F):</translation>
    </message>
    <message>
      <source>Dumped %1 registers.</source>
      <translation>%1 個のレジスタをダンプしました。</translation>
    </message>
    <message>
      <source>Dumped %1 registers; %2 changed since the previous dump.</source>
      <translation>%1 個のレジスタをダンプしました。前回のダンプから %2 個が変化しています。</translation>
    </message>
    <message>
      <source>&amp;Get</source>
      <translation>取得(&amp;G)</translation>
    </message>
    <message>
      <source>High byte first</source>
      <translation>上位バイトが先</translation>
    </message>
    <message>
      <source>Low byte first</source>
      <translation>下位バイトが先</translation>
    </message>
    <message>
      <source>&amp;Mask (Set):</source>
      <translation>マスク (設定)(&amp;M):</translation>
    </message>
    <message>
      <source>Register 0x%1 holds %2.</source>
      <translation>レジスタ 0x%1 の値は %2 です。</translation>
    </message>
    <message>
      <source>Register 0x%1 set to %2.</source>
      <translation>レジスタ 0x%1 を %2 に設定しました。</translation>
    </message>
    <message>
      <source>&amp;Register:</source>
      <translation>レジスタ(&amp;R):</translation>
    </message>
    <message>
      <source>Registers</source>
      <translation>レジスタ</translation>
    </message>
    <message>
      <source>&amp;Set</source>
      <translation>設定(&amp;S)</translation>
    </message>
    <message>
      <source>The mask must be a number from 0 to 0x%1, not &quot;%2&quot;.</source>
      <translation>マスクには 0 から 0x%1 までの数を指定します (&quot;%2&quot; ではありません)。</translation>
    </message>
    <message>
      <source>The value must be a number from 0 to 0x%1, not &quot;%2&quot;.</source>
      <translation>値には 0 から 0x%1 までの数を指定します (&quot;%2&quot; ではありません)。</translation>
    </message>
    <message>
      <source>&amp;Value:</source>
      <translation>値(&amp;V):</translation>
    </message>
    <message>
      <source>&amp;Width:</source>
      <translation>幅(&amp;W):</translation>
    </message>
    <message>
      <source>all bits</source>
      <translation>全ビット</translation>
    </message>
    <message>
      <source>to</source>
      <translation>〜</translation>
    </message>
  </context>
</TS>