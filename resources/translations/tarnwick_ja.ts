<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP" sourcelanguage="en">
<context>
    <name>Tarnwick</name>
    <message>
        <source>Tarnwick</source>
        <translation>Tarnwick</translation>
    </message>
    <message>
        <source>Sou&amp;rce:</source>
        <translation>変換元(&amp;R):</translation>
    </message>
    <message>
        <source>&amp;Destination:</source>
        <translation>変換先(&amp;D):</translation>
    </message>
    <message>
        <source>&amp;Choose...</source>
        <translation>選択(&amp;C)...</translation>
    </message>
    <message>
        <source>Choos&amp;e...</source>
        <translation>選択(&amp;E)...</translation>
    </message>
    <message>
        <source>Ch&amp;oose...</source>
        <translation>選択(&amp;O)...</translation>
    </message>
    <message>
        <source>A Eudora mailbox file, or a folder of mailbox files</source>
        <translation>Eudora のメールボックスファイル、またはメールボックスファイルを収めたフォルダ</translation>
    </message>
    <message>
        <source>A folder, or a new file name for a single mailbox</source>
        <translation>フォルダ、または単一のメールボックスを書き出す新しいファイルの名前</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>オプション</translation>
    </message>
    <message>
        <source>Con&amp;vert text encodings</source>
        <translation>文字コードを変換する(&amp;V)</translation>
    </message>
    <message>
        <source>&amp;Mailbox encoding:</source>
        <translation>メールボックスの文字コード(&amp;M):</translation>
    </message>
    <message>
        <source>O&amp;utput charsets:</source>
        <translation>出力する文字セット(&amp;U):</translation>
    </message>
    <message>
        <source>Charset names in order of preference, separated by commas</source>
        <translation>優先する順に並べた文字セット名（カンマ区切り）</translation>
    </message>
    <message>
        <source>&amp;Process Eudora tags</source>
        <translation>Eudora のタグを処理する(&amp;P)</translation>
    </message>
    <message>
        <source>Convert line e&amp;ndings to CR LF</source>
        <translation>改行コードを CR LF に変換する(&amp;N)</translation>
    </message>
    <message>
        <source>&amp;Add a Date header where one is missing</source>
        <translation>Date ヘッダのないメッセージに Date ヘッダを追加する(&amp;A)</translation>
    </message>
    <message>
        <source>Add an empt&amp;y line after each message</source>
        <translation>各メッセージの後に空行を追加する(&amp;Y)</translation>
    </message>
    <message>
        <source>Put attachments &amp;back into messages</source>
        <translation>添付ファイルをメッセージに戻す(&amp;B)</translation>
    </message>
    <message>
        <source>Files that Eudora saved in its attachment folders go back into their messages</source>
        <translation>Eudora が添付ファイル用フォルダに保存したファイルを元のメッセージに戻します</translation>
    </message>
    <message>
        <source>Another folder to look for attachment files in (optional)</source>
        <translation>添付ファイルを探す別のフォルダ (省略可)</translation>
    </message>
    <message>
        <source>Also loo&amp;k in:</source>
        <translation>ほかの検索先(&amp;K):</translation>
    </message>
    <message>
        <source>Choose a Folder of Attachments</source>
        <translation>添付ファイルのフォルダを選択</translation>
    </message>
    <message>
        <source>Attachments put back: %1, missing: %2</source>
        <translation>メッセージに戻した添付ファイル: %1、見つからない添付ファイル: %2</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>開始(&amp;S)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Choose a Mailbox File or Folder</source>
        <translation>メールボックスファイルまたはフォルダを選択</translation>
    </message>
    <message>
        <source>Choose the Destination</source>
        <translation>変換先を選択</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Source not found</source>
        <translation>変換元が見つかりません</translation>
    </message>
    <message>
        <source>Destination not found</source>
        <translation>変換先が見つかりません</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>エラー: %1</translation>
    </message>
    <message>
        <source>Converting Mbox files...</source>
        <translation>Mbox ファイルに変換しています...</translation>
    </message>
    <message>
        <source>Waiting...</source>
        <translation>待機しています...</translation>
    </message>
    <message>
        <source>&quot;%1&quot; not found</source>
        <translation>「%1」が見つかりません</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a directory</source>
        <translation>「%1」はフォルダではありません</translation>
    </message>
    <message>
        <source>&quot;%1&quot; already exists</source>
        <translation>「%1」はすでに存在します</translation>
    </message>
    <message>
        <source>Could not create &quot;%1&quot;: %2</source>
        <translation>「%1」を作成できませんでした: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; names no default Thunderbird profile</source>
        <translation>「%1」には Thunderbird の既定のプロファイルがありません</translation>
    </message>
    <message>
        <source>The Thunderbird profile &quot;%1&quot; keeps its Local Folders as one file per message (Maildir), where Thunderbird would not show the converted folders: convert into a folder instead</source>
        <translation>Thunderbird のプロファイル「%1」はローカルフォルダーをメッセージごとのファイル (Maildir) で保存しているため、変換したフォルダーを Thunderbird が表示しません: 代わりにフォルダーへ変換してください</translation>
    </message>
    <message>
        <source>&quot;%1&quot; names no Thunderbird profile &quot;%2&quot; (its profiles: %3)</source>
        <translation>「%1」には Thunderbird のプロファイル「%2」がありません(あるプロファイル: %3)</translation>
    </message>
    <message>
        <source>The Thunderbird profile &quot;%1&quot; has no Local Folders yet: start Thunderbird once, then try again</source>
        <translation>Thunderbird のプロファイル「%1」にはまだローカルフォルダーがありません: Thunderbird を一度起動してから、もう一度お試しください</translation>
    </message>
    <message>
        <source>No Thunderbird profile found (looked in &quot;%1&quot;)</source>
        <translation>Thunderbird のプロファイルが見つかりません (「%1」を探しました)</translation>
    </message>
    <message>
        <source>Thunderbird is running (its profile &quot;%1&quot; is in use): quit Thunderbird, then try again</source>
        <translation>Thunderbird が実行中です (プロファイル「%1」が使用中です): Thunderbird を終了してから、もう一度お試しください</translation>
    </message>
    <message>
        <source>Could not create a folder in &quot;%1&quot;: %2</source>
        <translation>「%1」にフォルダーを作成できませんでした: %2</translation>
    </message>
    <message>
        <source>Could not rename &quot;%1&quot;: %2</source>
        <translation>「%1」の名前を変更できませんでした: %2</translation>
    </message>
    <message>
        <source>The converted folders stay in &quot;%1&quot;</source>
        <translation>変換したフォルダーは「%1」に残っています</translation>
    </message>
    <message>
        <source>Placed into Thunderbird: Local Folders &gt; %1 (&quot;%2&quot;)</source>
        <translation>Thunderbird に配置しました: ローカルフォルダー &gt; %1 (「%2」)</translation>
    </message>
    <message>
        <source>Thunderbird</source>
        <translation>Thunderbird</translation>
    </message>
    <message>
        <source>A mail server such as Dovecot (Maildir)</source>
        <translation>Dovecot などのメールサーバー (Maildir)</translation>
    </message>
    <message>
        <source>mutt or notmuch (Maildir folders)</source>
        <translation>mutt または notmuch (Maildir フォルダー)</translation>
    </message>
    <message>
        <source>Plain mbox files</source>
        <translation>通常の mbox ファイル</translation>
    </message>
    <message>
        <source>Sets the format, folder layout and line endings the mail program reads; Plain mbox files leaves them to the options below</source>
        <translation>メールソフトが読み込む形式、フォルダー構成、改行コードを設定します。「通常の mbox ファイル」では下のオプションのとおりになります</translation>
    </message>
    <message>
        <source>&amp;Where the mail goes:</source>
        <translation>メールの移行先(&amp;W):</translation>
    </message>
    <message>
        <source>Put the mail into Thunderbird?</source>
        <translation>メールを Thunderbird に入れますか?</translation>
    </message>
    <message>
        <source>Put the converted mail straight into Thunderbird, as a new folder &quot;Eudora&quot; under Local Folders?</source>
        <translation>変換したメールを、ローカルフォルダーの新しいフォルダー「Eudora」として Thunderbird に直接入れますか?</translation>
    </message>
    <message>
        <source>Its Local Folders: %1
Quit Thunderbird first; the folders already there are not touched.</source>
        <translation>ローカルフォルダーの場所: %1
先に Thunderbird を終了してください。既存のフォルダーには手を加えません。</translation>
    </message>
    <message>
        <source>&amp;Put into Thunderbird</source>
        <translation>Thunderbird に入れる(&amp;P)</translation>
    </message>
    <message>
        <source>&amp;Only into the Destination</source>
        <translation>保存先にだけ書き出す(&amp;O)</translation>
    </message>
    <message>
        <source>Not put straight into Thunderbird: %1</source>
        <translation>Thunderbird には直接入れません: %1</translation>
    </message>
    <message>
        <source>Processing &quot;%1&quot;...</source>
        <translation>「%1」を処理しています...</translation>
    </message>
    <message>
        <source>Canceled</source>
        <translation>キャンセルしました</translation>
    </message>
    <message>
        <source>Completed</source>
        <translation>完了しました</translation>
    </message>
    <message>
        <source>Could not open &quot;%1&quot;: %2</source>
        <translation>「%1」を開けませんでした: %2</translation>
    </message>
    <message>
        <source>Could not read folder &quot;%1&quot;: %2</source>
        <translation>フォルダ「%1」を読み込めませんでした: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; cannot be the mailbox encoding: it does not read ASCII as ASCII</source>
        <translation>「%1」はメールボックスのエンコーディングにできません: ASCII を ASCII として読めません</translation>
    </message>
    <message>
        <source>Could not convert &quot;%1&quot;: not enough memory</source>
        <translation>「%1」を変換できませんでした: メモリが足りません</translation>
    </message>
    <message>
        <source>Could not convert &quot;%1&quot;: %2</source>
        <translation>「%1」を変換できませんでした: %2</translation>
    </message>
    <message>
        <source>Could not read &quot;%1&quot;</source>
        <translation>「%1」を読み込めませんでした</translation>
    </message>
    <message>
        <source>Nothing converted: &quot;%1&quot; is not a regular file</source>
        <translation>何も変換されませんでした: 「%1」は通常のファイルではありません</translation>
    </message>
    <message>
        <source>Nothing converted: &quot;%1&quot; is empty</source>
        <translation>何も変換されませんでした: 「%1」は空です</translation>
    </message>
    <message>
        <source>Nothing converted: &quot;%1&quot; is not a mailbox (it does not begin with &quot;From &quot;)</source>
        <translation>何も変換されませんでした: 「%1」はメールボックスではありません（「From 」で始まっていません）</translation>
    </message>
    <message>
        <source>Nothing converted: &quot;%1&quot; holds no message</source>
        <translation>何も変換されませんでした: 「%1」にメッセージがありません</translation>
    </message>
    <message>
        <source>Temporary files of an interrupted run, deleted: %1</source>
        <translation>中断された実行の一時ファイル（削除済み）: %1</translation>
    </message>
    <message>
        <source>Temporary files of a conversion still running, left alone: %1</source>
        <translation>実行中の変換の一時ファイル（そのまま）: %1</translation>
    </message>
    <message>
        <source>Could not read &quot;%1&quot;: %2</source>
        <translation>「%1」を読み込めませんでした: %2</translation>
    </message>
    <message>
        <source>Could not read &quot;%1&quot;: it was shortened while being converted</source>
        <translation>「%1」を読み込めませんでした: 変換中に短くなりました</translation>
    </message>
    <message>
        <source>Could not write to &quot;%1&quot;: %2</source>
        <translation>「%1」に書き込めませんでした: %2</translation>
    </message>
    <message>
        <source>Western (ASCII)</source>
        <translation>西欧 (ASCII)</translation>
    </message>
    <message>
        <source>Unicode (UTF-8)</source>
        <translation>Unicode (UTF-8)</translation>
    </message>
    <message>
        <source>Unicode (UTF-16)</source>
        <translation>Unicode (UTF-16)</translation>
    </message>
    <message>
        <source>Unicode (UTF-16BE)</source>
        <translation>Unicode (UTF-16BE)</translation>
    </message>
    <message>
        <source>Unicode (UTF-16LE)</source>
        <translation>Unicode (UTF-16LE)</translation>
    </message>
    <message>
        <source>Western (ISO Latin 1)</source>
        <translation>西欧 (ISO Latin 1)</translation>
    </message>
    <message>
        <source>Central European (ISO Latin 2)</source>
        <translation>中欧 (ISO Latin 2)</translation>
    </message>
    <message>
        <source>Western (ISO Latin 3)</source>
        <translation>西欧 (ISO Latin 3)</translation>
    </message>
    <message>
        <source>Central European (ISO Latin 4)</source>
        <translation>中欧 (ISO Latin 4)</translation>
    </message>
    <message>
        <source>Cyrillic (ISO 8859-5)</source>
        <translation>キリル (ISO 8859-5)</translation>
    </message>
    <message>
        <source>Arabic (ISO 8859-6)</source>
        <translation>アラビア語 (ISO 8859-6)</translation>
    </message>
    <message>
        <source>Greek (ISO 8859-7)</source>
        <translation>ギリシャ語 (ISO 8859-7)</translation>
    </message>
    <message>
        <source>Hebrew (ISO 8859-8)</source>
        <translation>ヘブライ語 (ISO 8859-8)</translation>
    </message>
    <message>
        <source>Turkish (ISO Latin 5)</source>
        <translation>トルコ語 (ISO Latin 5)</translation>
    </message>
    <message>
        <source>Nordic (ISO Latin 6)</source>
        <translation>北欧 (ISO Latin 6)</translation>
    </message>
    <message>
        <source>Thai (ISO 8859-11)</source>
        <translation>タイ語 (ISO 8859-11)</translation>
    </message>
    <message>
        <source>Baltic (ISO Latin 7)</source>
        <translation>バルト言語 (ISO Latin 7)</translation>
    </message>
    <message>
        <source>Celtic (ISO Latin 8)</source>
        <translation>ケルト語 (ISO Latin 8)</translation>
    </message>
    <message>
        <source>Western (ISO Latin 9)</source>
        <translation>西欧 (ISO Latin 9)</translation>
    </message>
    <message>
        <source>Romanian (ISO Latin 10)</source>
        <translation>ルーマニア語 (ISO Latin 10)</translation>
    </message>
    <message>
        <source>Central European (Windows Latin 2)</source>
        <translation>中欧 (Windows Latin 2)</translation>
    </message>
    <message>
        <source>Cyrillic (Windows)</source>
        <translation>キリル (Windows)</translation>
    </message>
    <message>
        <source>Western (Windows Latin 1)</source>
        <translation>西欧 (Windows Latin 1)</translation>
    </message>
    <message>
        <source>Greek (Windows)</source>
        <translation>ギリシャ語 (Windows)</translation>
    </message>
    <message>
        <source>Turkish (Windows Latin 5)</source>
        <translation>トルコ語 (Windows Latin 5)</translation>
    </message>
    <message>
        <source>Hebrew (Windows)</source>
        <translation>ヘブライ語 (Windows)</translation>
    </message>
    <message>
        <source>Arabic (Windows)</source>
        <translation>アラビア語 (Windows)</translation>
    </message>
    <message>
        <source>Baltic (Windows)</source>
        <translation>バルト言語 (Windows)</translation>
    </message>
    <message>
        <source>Vietnamese (Windows)</source>
        <translation>ベトナム語 (Windows)</translation>
    </message>
    <message>
        <source>Thai (Windows, DOS)</source>
        <translation>タイ語 (Windows, DOS)</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>自動</translation>
    </message>
    <message>
        <source>Western (Mac OS Roman)</source>
        <translation>西欧 (Mac OS Roman)</translation>
    </message>
    <message>
        <source>Central European (Mac OS)</source>
        <translation>中欧 (Mac OS)</translation>
    </message>
    <message>
        <source>Cyrillic (Mac OS)</source>
        <translation>キリル (Mac OS)</translation>
    </message>
    <message>
        <source>Greek (Mac OS)</source>
        <translation>ギリシャ語 (Mac OS)</translation>
    </message>
    <message>
        <source>Turkish (Mac OS)</source>
        <translation>トルコ語 (Mac OS)</translation>
    </message>
    <message>
        <source>Japanese (Shift JIS)</source>
        <translation>日本語 (Shift JIS)</translation>
    </message>
    <message>
        <source>Japanese (Mac OS)</source>
        <translation>日本語 (Mac OS)</translation>
    </message>
    <message>
        <source>Japanese (EUC)</source>
        <translation>日本語 (EUC)</translation>
    </message>
    <message>
        <source>Japanese (ISO 2022-JP)</source>
        <translation>日本語 (ISO 2022-JP)</translation>
    </message>
    <message>
        <source>Korean (EUC)</source>
        <translation>韓国語 (EUC)</translation>
    </message>
    <message>
        <source>Korean (Windows, DOS)</source>
        <translation>韓国語 (Windows, DOS)</translation>
    </message>
    <message>
        <source>Korean (ISO 2022-KR)</source>
        <translation>韓国語 (ISO 2022-KR)</translation>
    </message>
    <message>
        <source>Traditional Chinese (Big 5)</source>
        <translation>繁体字中国語 (Big 5)</translation>
    </message>
    <message>
        <source>Traditional Chinese (Big 5 HKSCS)</source>
        <translation>繁体字中国語 (Big 5 HKSCS)</translation>
    </message>
    <message>
        <source>Simplified Chinese (GB 2312)</source>
        <translation>簡体字中国語 (GB 2312)</translation>
    </message>
    <message>
        <source>Simplified Chinese (GBK)</source>
        <translation>簡体字中国語 (GBK)</translation>
    </message>
    <message>
        <source>Simplified Chinese (GB 18030)</source>
        <translation>簡体字中国語 (GB 18030)</translation>
    </message>
    <message>
        <source>Simplified Chinese (HZ GB 2312)</source>
        <translation>簡体字中国語 (HZ GB 2312)</translation>
    </message>
    <message>
        <source>Cyrillic (KOI8-R)</source>
        <translation>キリル (KOI8-R)</translation>
    </message>
    <message>
        <source>Ukrainian (KOI8-U)</source>
        <translation>ウクライナ語 (KOI8-U)</translation>
    </message>
    <message>
        <source>Read Eudora's inde&amp;xes and folder names</source>
        <translation>Eudora の索引とフォルダ名を読み込む(&amp;X)</translation>
    </message>
    <message>
        <source>Message boundaries and read/replied status from each mailbox's .toc, real names from descmap.pce; attachment folders and Eudora's own files are not converted</source>
        <translation>各メールボックスの .toc からメッセージの区切りと既読・返信済みの状態を、descmap.pce から本来の名前を読み取ります。添付ファイルのフォルダと Eudora 自身のファイルは変換しません</translation>
    </message>
    <message>
        <source>One file per mailbox (flat)</source>
        <translation>メールボックスごとに 1 ファイル (flat)</translation>
    </message>
    <message>
        <source>Folders as in Eudora (tree)</source>
        <translation>Eudora と同じフォルダ構成 (tree)</translation>
    </message>
    <message>
        <source>Tree recreates Eudora's folders; choose it to import into Thunderbird, Dovecot or mutt, or to copy to a FAT or exFAT disk</source>
        <translation>tree は Eudora のフォルダ構成を再現します。Thunderbird、Dovecot、mutt に取り込むときや、FAT・exFAT のディスクにコピーするときに選んでください</translation>
    </message>
    <message>
        <source>Output &amp;layout:</source>
        <translation>出力の構成(&amp;L):</translation>
    </message>
    <message>
        <source>Removed in Eudora:</source>
        <translation>Eudora で削除済み:</translation>
    </message>
    <message>
        <source>In a mailbox of their own</source>
        <translation>別のメールボックスに保存</translation>
    </message>
    <message>
        <source>Left out</source>
        <translation>除外</translation>
    </message>
    <message>
        <source>Among the mailbox's messages</source>
        <translation>元のメールボックスに含める</translation>
    </message>
    <message>
        <source>Messages deleted or moved away in Eudora stay in the mailbox file until Eudora compacts it; kept apart, they go to &quot;NAME (removed in Eudora)&quot; beside the mailbox</source>
        <translation>Eudora で削除・移動したメッセージは、Eudora が圧縮するまでメールボックスのファイルに残っています。別に保存すると、メールボックスの隣の「NAME (Eudora で削除済み)」に入ります</translation>
    </message>
    <message>
        <source>Eudora's own files not converted: %1</source>
        <translation>変換しなかった Eudora 自身のファイル: %1</translation>
    </message>
    <message>
        <source>Files in attachment folders not converted: %1</source>
        <translation>変換しなかった添付ファイルフォルダ内のファイル: %1</translation>
    </message>
    <message>
        <source>%1: empty</source>
        <translation>%1: 空</translation>
    </message>
    <message>
        <source>, and %1 more</source>
        <translation>、ほか %1 件</translation>
    </message>
    <message>
        <source>%1 (messages: %2)</source>
        <translation>%1 (メッセージ: %2)</translation>
    </message>
    <message>
        <source>%1 (messages: %2, left unconverted: %3)</source>
        <translation>%1 (メッセージ: %2、未変換: %3)</translation>
    </message>
    <message>
        <source>Mailboxes converted: %1, messages: %2</source>
        <translation>変換したメールボックス: %1、メッセージ: %2</translation>
    </message>
    <message>
        <source>Messages left unconverted, no charset in the list fits: %1</source>
        <translation>未変換のメッセージ (一覧に合う文字セットがない): %1</translation>
    </message>
    <message>
        <source>Messages left unconverted, not valid in the source encoding: %1</source>
        <translation>未変換のメッセージ (元のエンコーディングとして正しくない): %1</translation>
    </message>
    <message>
        <source>Messages left unconverted, a header field is too long to convert: %1</source>
        <translation>未変換のメッセージ (ヘッダーフィールドが長すぎて変換できない): %1</translation>
    </message>
    <message>
        <source>Not a mailbox, not converted: %1</source>
        <translation>メールボックスではないため変換しなかったファイル: %1</translation>
    </message>
    <message>
        <source>Links and special files passed over: %1</source>
        <translation>飛ばしたリンクと特殊ファイル: %1</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>失敗: %1</translation>
    </message>
    <message>
        <source>%1: %2 messages removed in Eudora kept apart</source>
        <translation>%1: Eudora で削除されたメッセージ %2 件を別に保存</translation>
    </message>
    <message>
        <source>%1: 1 message removed in Eudora kept apart</source>
        <translation>%1: Eudora で削除されたメッセージ 1 件を別に保存</translation>
    </message>
    <message>
        <source>%1: 1 message removed in Eudora left out</source>
        <translation>%1: Eudora で削除されたメッセージ 1 件を除外</translation>
    </message>
    <message>
        <source>%1: %2 messages removed in Eudora left out</source>
        <translation>%1: Eudora で削除されたメッセージ %2 件を除外</translation>
    </message>
    <message>
        <source>%1 (removed in Eudora)</source>
        <translation>%1 (Eudora で削除済み)</translation>
    </message>
    <message>
        <source>Written:</source>
        <translation>書き出し先:</translation>
    </message>
    <message>
        <source>%1 -&gt; %2: messages %3, read %4, replied %5, forwarded %6, attachments %7</source>
        <translation>%1 -&gt; %2: メッセージ %3、既読 %4、返信済み %5、転送済み %6、添付ファイル %7</translation>
    </message>
    <message>
        <source>%1 mailboxes could not be converted</source>
        <translation>%1 個のメールボックスを変換できませんでした</translation>
    </message>
    <message>
        <source>Keep &amp;going after a mailbox fails</source>
        <translation>メールボックスが失敗しても続ける(&amp;G)</translation>
    </message>
    <message>
        <source>Deta&amp;ils...</source>
        <translation>詳細(&amp;I)...</translation>
    </message>
    <message>
        <source>Open Des&amp;tination</source>
        <translation>変換先を開く(&amp;T)</translation>
    </message>
    <message>
        <source>Choose the source</source>
        <translation>変換元を選択</translation>
    </message>
    <message>
        <source>Choose the destination</source>
        <translation>変換先を選択</translation>
    </message>
    <message>
        <source>Choose another attachments folder</source>
        <translation>添付ファイルの別のフォルダを選択</translation>
    </message>
    <message>
        <source>A mailbox that cannot be converted is listed and the job goes on with the next</source>
        <translation>変換できないメールボックスは一覧に載せ、次のメールボックスに進みます</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About Tarnwick</source>
        <translation>Tarnwick について(&amp;A)</translation>
    </message>
    <message>
        <source>Choose a destination folder</source>
        <translation>変換先フォルダを選択してください</translation>
    </message>
    <message>
        <source>The destination folder &quot;%1&quot; does not exist. Create it?</source>
        <translation>変換先フォルダ「%1」がありません。作成しますか?</translation>
    </message>
    <message>
        <source>Create Folder</source>
        <translation>フォルダを作成</translation>
    </message>
    <message>
        <source>Could not create &quot;%1&quot;</source>
        <translation>「%1」を作成できませんでした</translation>
    </message>
    <message>
        <source>The destination is the source folder or lies inside it.</source>
        <translation>変換先は変換元フォルダそのもの、またはその中にあります。</translation>
    </message>
    <message>
        <source>The destination already holds 1 file.</source>
        <translation>変換先にはすでに 1 個のファイルがあります。</translation>
    </message>
    <message>
        <source>The destination already holds %1 files.</source>
        <translation>変換先にはすでに %1 個のファイルがあります。</translation>
    </message>
    <message>
        <source>Existing files are never overwritten; new ones get names ending in _2, _3... Convert anyway?</source>
        <translation>既存のファイルは上書きせず、新しいファイルの名前には _2、_3... が付きます。変換しますか?</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>変換</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>詳細</translation>
    </message>
    <message>
        <source>About Tarnwick</source>
        <translation>Tarnwick について</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Tarnwick %1&lt;/b&gt;&lt;/p&gt;&lt;p&gt;Converts Eudora mailboxes into mbox files.&lt;/p&gt;&lt;p&gt;&lt;a href=&quot;%2&quot;&gt;Read the README&lt;/a&gt;&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;Tarnwick %1&lt;/b&gt;&lt;/p&gt;&lt;p&gt;Eudora のメールボックスを mbox ファイルに変換します。&lt;/p&gt;&lt;p&gt;&lt;a href="%2"&gt;README を読む&lt;/a&gt;&lt;/p&gt;</translation>
    </message>
    <message>
        <source>A conversion is running. Stop it now and quit? The mailbox under way is left unconverted and its output removed.</source>
        <translation>変換中です。すぐに停止して終了しますか? 処理中のメールボックスは変換されず、その出力は削除されます。</translation>
    </message>
    <message>
        <source>Stop Now</source>
        <translation>すぐに停止</translation>
    </message>
    <message>
        <source>The mailbox under way is left unconverted and its output removed</source>
        <translation>処理中のメールボックスは変換されず、その出力は削除されます</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <source>Converted %1, %2</source>
        <translation>変換しました: %1、%2</translation>
    </message>
    <message>
        <source>1 mailbox</source>
        <translation>メールボックス 1 個</translation>
    </message>
    <message>
        <source>%1 mailboxes</source>
        <translation>メールボックス %1 個</translation>
    </message>
    <message>
        <source>1 message</source>
        <translation>メッセージ 1 通</translation>
    </message>
    <message>
        <source>%1 messages</source>
        <translation>メッセージ %1 通</translation>
    </message>
    <message>
        <source>1 message left unconverted</source>
        <translation>未変換のメッセージ 1 通</translation>
    </message>
    <message>
        <source>%1 messages left unconverted</source>
        <translation>未変換のメッセージ %1 通</translation>
    </message>
    <message>
        <source>attachments missing: %1</source>
        <translation>見つからない添付ファイル: %1</translation>
    </message>
    <message>
        <source>failed: %1</source>
        <translation>失敗: %1</translation>
    </message>
    <message>
        <source>Unknown charset names: %1</source>
        <translation>不明な文字セット名: %1</translation>
    </message>
    <message>
        <source>Choose a Folder of Mailboxes</source>
        <translation>メールボックスのフォルダを選択</translation>
    </message>
    <message>
        <source>&amp;Folder...</source>
        <translation>フォルダ(&amp;F)...</translation>
    </message>
    <message>
        <source>&amp;Mailbox File...</source>
        <translation>メールボックスファイル(&amp;M)...</translation>
    </message>
    <message>
        <source>%1 of %2 (%3%)</source>
        <translation>%2 中 %1 (%3%)</translation>
    </message>
    <message>
        <source>%1 of %2 files</source>
        <translation>%2 ファイル中 %1 番目</translation>
    </message>
    <message>
        <source>%1 of %2 files; this one %3 of %4</source>
        <translation>%2 ファイル中 %1 番目、このファイルは %4 中 %3</translation>
    </message>
    <message>
        <source>No file manager is set up on this computer to open the destination. Open it yourself, or copy its path:</source>
        <translation>このコンピューターには変換先を開くファイルマネージャーが設定されていません。ご自分で開くか、パスをコピーしてください:</translation>
    </message>
    <message>
        <source>Could Not Open</source>
        <translation>開けませんでした</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>場所</translation>
    </message>
    <message>
        <source>Copy &amp;Path</source>
        <translation>パスをコピー(&amp;P)</translation>
    </message>
    <message>
        <source>No program is set up on this computer to open the README. Open it yourself, or copy its path:</source>
        <translation>このコンピューターには README を開くプログラムが設定されていません。ご自分で開くか、パスをコピーしてください:</translation>
    </message>
    <message>
        <source>The destination folder "%1" does not exist: create it first</source>
        <translation>変換先フォルダ「%1」がありません。先に作成してください</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>残り %1</translation>
    </message>
    <message>
        <source>file %1</source>
        <translation>ファイル %1</translation>
    </message>
    <message>
        <source>Each message is read in its mailbox encoding and written in the first output charset that holds all of its text</source>
        <translation>各メッセージをメールボックスの文字コードで読み、その文章をすべて表せる最初の出力文字セットで書き出します</translation>
    </message>
    <message>
        <source>The character set the mailboxes were written in; Automatic reads it from each message</source>
        <translation>メールボックスが書かれた文字コードです。「自動」では各メッセージから判断します</translation>
    </message>
    <message>
        <source>Eudora marks styled text with tags such as x-html and x-rich: x-html becomes an ordinary HTML part, x-rich enriched text that mail programs show formatted (inside an HTML part, HTML formatting)</source>
        <translation>Eudora は書式付きの文章を x-html や x-rich などのタグで示します。x-html は通常の HTML のパートに、x-rich はメールソフトが書式付きで表示するエンリッチドテキスト（HTML のパートの中では HTML の書式）にします</translation>
    </message>
    <message>
        <source>CR LF is the pair of characters that ends a line on Windows and in mail; Thunderbird and Apple Mail read either</source>
        <translation>CR LF は Windows とメールで行の終わりを示す 2 文字です。Thunderbird と Apple Mail はどちらも読めます</translation>
    </message>
    <message>
        <source>A message without a Date header gets one from the time on its "From " line, so that mail programs sort it by date</source>
        <translation>Date ヘッダのないメッセージに「From 」行の日時から Date ヘッダを付け、メールソフトが日付順に並べられるようにします</translation>
    </message>
    <message>
        <source>An empty line between messages, as the mbox format expects</source>
        <translation>mbox 形式が求めるとおり、メッセージの間に空行を入れます</translation>
    </message>
    <message>
        <source>Upload to a Mail Account</source>
        <translation>メールアカウントへのアップロード</translation>
    </message>
    <message>
        <source>A Maildir folder of converted mail</source>
        <translation>変換したメールの Maildir フォルダ</translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation>選択...</translation>
    </message>
    <message>
        <source>TLS</source>
        <translation>TLS</translation>
    </message>
    <message>
        <source>STARTTLS</source>
        <translation>STARTTLS</translation>
    </message>
    <message>
        <source>None (this computer only)</source>
        <translation>なし (このコンピューターのみ)</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>ポート:</translation>
    </message>
    <message>
        <source>Remember the password (in the desktop's password store)</source>
        <translation>パスワードを記憶する (デスクトップのパスワード保管庫に)</translation>
    </message>
    <message>
        <source>Converted mail:</source>
        <translation>変換したメール:</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>サーバー:</translation>
    </message>
    <message>
        <source>User name:</source>
        <translation>ユーザー名:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>パスワード:</translation>
    </message>
    <message>
        <source>Connections at once:</source>
        <translation>同時接続数:</translation>
    </message>
    <message>
        <source>How many connections upload at once. Some providers allow only a few, and count those of your mail program too.</source>
        <translation>同時にアップロードする接続の数。プロバイダによっては少数しか許さず、メールソフトの接続も数えます。</translation>
    </message>
    <message>
        <source>Into the folder:</source>
        <translation>アップロード先のフォルダ:</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>アップロード</translation>
    </message>
    <message>
        <source>Converted Mail (Maildir)</source>
        <translation>変換したメール (Maildir)</translation>
    </message>
    <message>
        <source>The password could not be remembered: %1</source>
        <translation>パスワードを記憶できませんでした: %1</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Fill in the converted mail's folder, the server, the user name and the password.</source>
        <translation>変換したメールのフォルダ、サーバー、ユーザー名、パスワードを入力してください。</translation>
    </message>
    <message>
        <source>Error: %1 messages were not uploaded</source>
        <translation>エラー: %1 通のメッセージをアップロードできませんでした</translation>
    </message>
    <message>
        <source>&amp;Upload to a Mail Account...</source>
        <translation>メールアカウントへアップロード(&amp;U)...</translation>
    </message>
    <message>
        <source>Cop&amp;y All</source>
        <translation>すべてコピー(&amp;Y)</translation>
    </message>
    <message>
        <source>Left unconverted, stopped at once: %1</source>
        <translation>未変換のまま (すぐに停止): %1</translation>
    </message>
    <message>
        <source>Left unconverted, the job stopped before them: %1</source>
        <translation>未変換のまま (その前に停止): %1</translation>
    </message>
    <message>
        <source>%1 of %2 mailboxes converted, %3</source>
        <translation>%2 個中 %1 個のメールボックスを変換しました、%3</translation>
    </message>
    <message>
        <source>%1 failed (%2)</source>
        <translation>%1 個失敗 (%2)</translation>
    </message>
    <message>
        <source>No mailbox found: nothing was converted</source>
        <translation>メールボックスが見つかりません: 何も変換されませんでした</translation>
    </message>
    <message>
        <source>%1. %2</source>
        <translation>%1。%2</translation>
    </message>
    <message>
        <source>Choose the Eudora folder or a mailbox file with Choose..., or type its path</source>
        <translation>「選択...」で Eudora のフォルダかメールボックスファイルを選ぶか、パスを入力してください</translation>
    </message>
    <message>
        <source>Check the path, or choose the Eudora folder or a mailbox file with Choose...</source>
        <translation>パスを確かめるか、「選択...」で Eudora のフォルダかメールボックスファイルを選んでください</translation>
    </message>
    <message>
        <source>Choose the folder for the converted files with Choose..., or type its path</source>
        <translation>「選択...」で変換したファイルを入れるフォルダを選ぶか、パスを入力してください</translation>
    </message>
    <message>
        <source>Check the path, or choose an existing folder</source>
        <translation>パスを確かめるか、既存のフォルダを選んでください</translation>
    </message>
    <message>
        <source>1 line about an abandoned mailbox not shown</source>
        <translation>中止したメールボックスについての 1 行は表示しません</translation>
    </message>
    <message>
        <source>%1 lines about an abandoned mailbox not shown</source>
        <translation>中止したメールボックスについての %1 行は表示しません</translation>
    </message>
    <message>
        <source>Tarnwick &amp;Help</source>
        <translation>Tarnwick ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>No program is set up on this computer to open the manual. Open it yourself (its part “Convert your Eudora mail in three steps”), or copy its path:</source>
        <translation>このコンピューターにはマニュアルを開くプログラムが設定されていません。ご自分で開く (「Convert your Eudora mail in three steps」の部分) か、パスをコピーしてください:</translation>
    </message>
    <message>
        <source>Stop and &amp;Quit</source>
        <translation>停止して終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Keep Converting</source>
        <translation>変換を続ける(&amp;K)</translation>
    </message>
    <message>
        <source>Stops when the mailbox under way is done</source>
        <translation>処理中のメールボックスが終わったところで停止します</translation>
    </message>
    <message>
        <source>Stopping when this mailbox is done. Stop Now stops at once and leaves it unconverted.</source>
        <translation>このメールボックスが終わったところで停止します。「すぐに停止」を押すとただちに停止し、このメールボックスは変換されません。</translation>
    </message>
    <message>
        <source>Stopping...</source>
        <translation>停止しています...</translation>
    </message>
    <message>
        <source>Unknown charset names</source>
        <translation>不明な文字セット名</translation>
    </message>
    <message>
        <source>Uses Qt %1</source>
        <translation>Qt %1 を使用</translation>
    </message>
    <message>
        <source>Connecting to %1...</source>
        <translation>%1 に接続しています...</translation>
    </message>
    <message>
        <source>%1; going on over the connections already open</source>
        <translation>%1。すでに開いている接続で続けます</translation>
    </message>
    <message>
        <source>%1; trying again in %2 s</source>
        <translation>%1。%2 秒後にもう一度試みます</translation>
    </message>
    <message>
        <source>Created the folder &quot;%1&quot;</source>
        <translation>フォルダ「%1」を作成しました</translation>
    </message>
    <message>
        <source>Another upload of the same mail into this account is running</source>
        <translation>同じメールをこのアカウントにアップロードする別の処理が実行中です</translation>
    </message>
    <message>
        <source>Could not lock &quot;%1&quot;: %2</source>
        <translation>「%1」をロックできませんでした: %2</translation>
    </message>
    <message>
        <source>Uploading &quot;%1&quot;...</source>
        <translation>「%1」をアップロードしています...</translation>
    </message>
    <message>
        <source>%1, message %2</source>
        <translation>%1、%2 通目のメッセージ</translation>
    </message>
    <message>
        <source>Uploading &quot;%1&quot; (%2)...</source>
        <translation>「%1」をアップロードしています (%2)...</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is empty and was not uploaded</source>
        <translation>「%1」は空のためアップロードしませんでした</translation>
    </message>
    <message>
        <source>&quot;%1&quot; (%2) is larger than %3 accepts (%4) and was not uploaded</source>
        <translation>「%1」(%2) は %3 が受け付ける大きさ (%4) を超えるため、アップロードしませんでした</translation>
    </message>
    <message>
        <source>&quot;%1&quot; (%2) was refused as too large: %3</source>
        <translation>「%1」(%2) は大きすぎるため拒否されました: %3</translation>
    </message>
    <message>
        <source>%1; uploading &quot;%2&quot; without keywords</source>
        <translation>%1。「%2」はキーワードなしでアップロードします</translation>
    </message>
    <message>
        <source>%1: %2 of %3 uploaded (%4)</source>
        <translation>%1: %3のうち %2 通をアップロード (%4)</translation>
    </message>
    <message>
        <source>Uploaded %1 (%2); %3 already present, %4 refused, %5 failed</source>
        <translation>%1をアップロードしました (%2)。既にあったもの %3、拒否 %4、失敗 %5</translation>
    </message>
    <message>
        <source>%1 not uploaded yet</source>
        <translation>%1がまだアップロードされていません</translation>
    </message>
    <message>
        <source>Stopped: %1</source>
        <translation>停止しました: %1</translation>
    </message>
    <message>
        <source>What was uploaded stays on the server. Run the same command again (after the limit resets or the problem is solved) to upload the rest: nothing is uploaded twice.</source>
        <translation>アップロードしたものはサーバーに残ります。残りをアップロードするには、(制限が解除されるか問題が解決してから) 同じコマンドをもう一度実行してください。同じメッセージが二度アップロードされることはありません。</translation>
    </message>
    <message>
        <source>Canceled. Run the same command again to upload the rest: nothing is uploaded twice.</source>
        <translation>キャンセルしました。残りをアップロードするには同じコマンドをもう一度実行してください。同じメッセージが二度アップロードされることはありません。</translation>
    </message>
    <message>
        <source>Password for %1 at %2: </source>
        <translation>%2 の %1 のパスワード: </translation>
    </message>
    <message>
        <source>no password: set TARNWICK_IMAP_PASSWORD or run on a terminal</source>
        <translation>パスワードがありません: TARNWICK_IMAP_PASSWORD を設定するか、端末で実行してください</translation>
    </message>
    <message>
        <source>no password</source>
        <translation>パスワードがありません</translation>
    </message>
    <message>
        <source>Error: 1 message was not uploaded</source>
        <translation>エラー: 1 通のメッセージをアップロードできませんでした</translation>
    </message>
    <message>
        <source>The mailboxes that could not be converted were not uploaded, or only in part: upload each on its own once it is mended</source>
        <translation>変換できなかったメールボックスはアップロードしていないか、一部だけアップロードしました: 修復してから一つずつアップロードしてください</translation>
    </message>
    <message>
        <source>Upload into a mail account (IMAP) instead</source>
        <translation>代わりにメールアカウント (IMAP) へアップロード</translation>
    </message>
    <message>
        <source>Converts the source and uploads it into the account, with its folders, flags and dates; the password is asked for at Start</source>
        <translation>変換元を変換し、フォルダ・フラグ・日付とともにアカウントへアップロードします。パスワードは開始時に尋ねます</translation>
    </message>
    <message>
        <source>Eudora mail:</source>
        <translation>Eudora のメール:</translation>
    </message>
    <message>
        <source>Could not write &quot;%1&quot;</source>
        <translation>「%1」に書き込めませんでした</translation>
    </message>
</context>
</TS>
