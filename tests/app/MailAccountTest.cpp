// The "Upload to a Mail Account" dialog: opened from the File menu, it asks for what is
// missing, runs the upload off the window's thread and shows how it ended.
#include "TestSupport.h"

#include "app/MailAccountDialog.h"

#include "app/AppTranslations.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTranslator>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tarnwick;

class MailAccountTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    MailAccountDialog* openDialog(test::Window& w)
    {
        QAction* action = w.window.findChild<QAction*>(QStringLiteral("uploadToMailAccountAction"));
        if (!action)
            return nullptr;
        action->trigger();
        return w.window.findChild<MailAccountDialog*>(QStringLiteral("mailAccountDialog"));
    }

    // A port on 127.0.0.1 that nothing listens on: bound, then let go.
    static quint16 unusedPort()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 1;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        close(fd);
        return ntohs(address.sin_port);
    }

private slots:
    void init()
    {
        test::resetStore();
        qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
    }

    void missingFieldsAreAskedFor()
    {
        test::Window w;
        MailAccountDialog* dialog = openDialog(w);
        QVERIFY(dialog);
        dialog->findChild<QPushButton*>(QStringLiteral("uploadButton"))->click();
        QVERIFY(!dialog->isUploading());
        QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("uploadStatusLabel"))->text().startsWith(QStringLiteral("Fill in")));
    }

    // On a Japanese desktop the dialog speaks Japanese: its texts are in the catalogue's
    // context, not in one of their own.
    void speaksTheWindowsLanguage()
    {
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        QStringList texts;
        {
            test::Window w;
            MailAccountDialog* dialog = openDialog(w);
            QVERIFY(dialog);
            dialog->findChild<QPushButton*>(QStringLiteral("uploadButton"))->click(); // asks for what is missing
            texts << dialog->windowTitle() << dialog->findChild<QLabel*>(QStringLiteral("uploadStatusLabel"))->text()
                  << dialog->findChild<QCheckBox*>(QStringLiteral("rememberCheck"))->text()
                  << dialog->findChild<QPushButton*>(QStringLiteral("uploadButton"))->text();
        }
        QCoreApplication::removeTranslator(translator);
        delete translator;
        for (const QString& text : texts)
            QVERIFY2(!text.isEmpty() && !text.contains(QRegularExpression("[A-Za-z]{4}")), qPrintable(text));
    }

    // A server that is not there: the upload runs, fails with the host and port named,
    // and the form can be used again.
    void aFailedConnectionIsShownAndTheFormComesBack()
    {
        QDir(dir_.path()).mkpath(QStringLiteral("maildir/cur"));
        QDir(dir_.path()).mkpath(QStringLiteral("maildir/new"));
        QFile message(dir_.filePath(QStringLiteral("maildir/cur/1.M1.test:2,S")));
        QVERIFY(message.open(QIODevice::WriteOnly));
        message.write("Subject: hello\n\nbody\n");
        message.close();
        // A port on 127.0.0.1 that nothing listens on: bound, then let go.
        quint16 port = 0;
        {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            QVERIFY(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
            port = ntohs(address.sin_port);
            close(fd);
        }

        test::Window w;
        MailAccountDialog* dialog = openDialog(w);
        QVERIFY(dialog);
        dialog->findChild<QLineEdit*>(QStringLiteral("maildirEdit"))->setText(dir_.filePath(QStringLiteral("maildir")));
        dialog->findChild<QLineEdit*>(QStringLiteral("serverEdit"))->setText(QStringLiteral("127.0.0.1"));
        dialog->findChild<QSpinBox*>(QStringLiteral("portSpin"))->setValue(port);
        dialog->findChild<QLineEdit*>(QStringLiteral("userEdit"))->setText(QStringLiteral("anna"));
        dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("secret"));
        auto* upload = dialog->findChild<QPushButton*>(QStringLiteral("uploadButton"));
        upload->click();
        QVERIFY(dialog->isUploading() || !upload->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(upload->isEnabled(), 10000);
        QVERIFY(!dialog->isUploading());
        const QString status = dialog->findChild<QLabel*>(QStringLiteral("uploadStatusLabel"))->text();
        QVERIFY2(status.startsWith(QStringLiteral("Error: Could not connect to 127.0.0.1 port %1").arg(port)), qPrintable(status));
        const QString log = dialog->findChild<QPlainTextEdit*>(QStringLiteral("uploadLog"))->toPlainText();
        QVERIFY2(log.contains(QStringLiteral("1 message not uploaded yet")), qPrintable(log));
    }

    // The account chosen in the window: Start (no destination folder needed) opens the
    // dialog for the Eudora mail with the account filled in, the password asked there;
    // a server that cannot be reached is said before anything is converted, and nothing
    // is left in the cache. The account, not the password, is there again in the next window.
    void theWindowsAccountDestinationConvertsAndAsksForThePassword()
    {
        qputenv("XDG_CACHE_HOME", dir_.filePath(QStringLiteral("cache")).toLocal8Bit());
        QDir(dir_.path()).mkpath(QStringLiteral("Eudora"));
        QFile mailbox(dir_.filePath(QStringLiteral("Eudora/In.mbx")));
        QVERIFY(mailbox.open(QIODevice::WriteOnly));
        mailbox.write("From ???@??? Tue May 06 07:08:09 2003\r\nSubject: one\r\n\r\nText.\r\n"
                      "From ???@??? Tue May 06 07:09:09 2003\r\nSubject: two\r\n\r\nText.\r\n");
        mailbox.close();
        const quint16 port = unusedPort();
        {
            test::Window w;
            auto* destination = w.window.findChild<QGroupBox*>(QStringLiteral("mailAccountDestination"));
            QVERIFY(destination);
            QVERIFY(!destination->isChecked());
            destination->setChecked(true);
            destination->findChild<QLineEdit*>(QStringLiteral("accountServerEdit"))->setText(QStringLiteral("127.0.0.1"));
            destination->findChild<QSpinBox*>(QStringLiteral("accountPortSpin"))->setValue(port);
            destination->findChild<QLineEdit*>(QStringLiteral("accountUserEdit"))->setText(QStringLiteral("anna"));
            w.sourceEdit()->setText(dir_.filePath(QStringLiteral("Eudora")));
            w.startButton()->click();
            auto* dialog = w.window.findChild<MailAccountDialog*>(QStringLiteral("mailAccountDialog"));
            QVERIFY(dialog);
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("maildirEdit"))->text(), dir_.filePath(QStringLiteral("Eudora")));
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("serverEdit"))->text(), QStringLiteral("127.0.0.1"));
            QCOMPARE(dialog->findChild<QSpinBox*>(QStringLiteral("portSpin"))->value(), int(port));
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("userEdit"))->text(), QStringLiteral("anna"));
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("topFolderEdit"))->text(), QStringLiteral("Eudora"));
            auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
            QVERIFY(password->text().isEmpty());
            password->setText(QStringLiteral("secret"));
            auto* upload = dialog->findChild<QPushButton*>(QStringLiteral("uploadButton"));
            upload->click();
            QTRY_VERIFY_WITH_TIMEOUT(upload->isEnabled(), 20000);
            const QString status = dialog->findChild<QLabel*>(QStringLiteral("uploadStatusLabel"))->text();
            QVERIFY2(status.startsWith(QStringLiteral("Error: Could not connect to 127.0.0.1")), qPrintable(status));
            const QString log = dialog->findChild<QPlainTextEdit*>(QStringLiteral("uploadLog"))->toPlainText();
            QVERIFY2(log.contains(QStringLiteral("Uploaded 0 messages")), qPrintable(log));
            QVERIFY2(!log.contains(QStringLiteral("not uploaded yet")), qPrintable(log)); // none converted
            const QStringList kept = QDir(dir_.filePath(QStringLiteral("cache/Tarnwick"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QVERIFY2(kept.isEmpty(), qPrintable(kept.join(QLatin1Char(' '))));
            dialog->close();
        }
        test::Window again;
        auto* destination = again.window.findChild<QGroupBox*>(QStringLiteral("mailAccountDestination"));
        QVERIFY(destination->isChecked());
        QCOMPARE(destination->findChild<QLineEdit*>(QStringLiteral("accountServerEdit"))->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(destination->findChild<QSpinBox*>(QStringLiteral("accountPortSpin"))->value(), int(port));
        QCOMPARE(destination->findChild<QLineEdit*>(QStringLiteral("accountUserEdit"))->text(), QStringLiteral("anna"));
    }
};

#include "MailAccountTest.moc"
static tarnwick::test::RegisterTest<MailAccountTest> registerMailAccountTest("MailAccountTest");
