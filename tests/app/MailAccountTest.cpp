// The "Upload to a Mail Account" dialog: opened from the File menu, it asks for what is
// missing, runs the upload off the window's thread and shows how it ended.
#include "TestSupport.h"

#include "app/MailAccountDialog.h"

#include "app/AppTranslations.h"

#include <QAction>
#include <QCheckBox>
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
};

#include "MailAccountTest.moc"
static tarnwick::test::RegisterTest<MailAccountTest> registerMailAccountTest("MailAccountTest");
