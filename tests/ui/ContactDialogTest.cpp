#include "store/ProfileFile.h"
#include "server/Server.h"
#include "ui/ContactDialog.h"
#include "ui/MainWindow.h"
#include "ui/SendProgressDialog.h"
#include "ui/UpdateCheckDialog.h"

#include "PythonServer.h"
#include "ScriptedPeer.h"
#include "TempFolder.h"
#include "TestHome.h"

#include <QAction>
#include <QComboBox>
#include <QMenuBar>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

using namespace tolvane;
using tolvane::testing::PeerLink;
using tolvane::testing::ScriptedPeer;

namespace {

class RecordingDialog : public ui::ContactDialog {
public:
    using ContactDialog::ContactDialog;
    QStringList messages;

protected:
    void ShowMessage(const QString& text) override { messages << text; }
};

void Pop3Session(PeerLink& link) {
    link.Send("+OK ready\r\n");
    link.ReadLine();
    link.Send("+OK\r\n");
    link.ReadLine();
    link.Send("+OK logged in\r\n");
    if (link.ReadLine()) link.Send("+OK bye\r\n");
}

}  // namespace

class ContactDialogTest : public QObject {
    Q_OBJECT

private:
    std::filesystem::path Settings(std::uint16_t pop3Port, std::uint16_t smtpPort) {
        const auto settings = home_.path() / ("Settings-" + std::to_string(pop3Port) + ".ini");
        store::ProfileEditor editor(settings);
        editor.Set("Feedback", "SmtpHost", "127.0.0.1");
        editor.Set("Feedback", "SmtpPort", std::to_string(smtpPort));
        editor.Set("Feedback", "Pop3Host", "127.0.0.1");
        editor.Set("Feedback", "Pop3Port", std::to_string(pop3Port));
        editor.Set("Feedback", "MailboxUser", "box");
        editor.Set("Feedback", "MailboxPassword", "pw");
        editor.Set("Feedback", "MailboxAddress", "box@maker.test");
        editor.Set("Feedback", "Recipient", "Maker <feedback@maker.test>");
        editor.Save();
        return settings;
    }

    TempFolder home_;

private slots:
    void fieldsAndSubjects() {
        RecordingDialog dialog(home_.path() / "Settings.ini");
        QCOMPARE(dialog.windowTitle(), QString("Contact the Developer"));
        QStringList subjects;
        for (int i = 0; i < dialog.SubjectList()->count(); ++i) subjects << dialog.SubjectList()->itemText(i);
        QCOMPARE(subjects, QStringList({"(Select a Subject)", "Bug Report", "Suggestion", "Request", "Other"}));
        dialog.Send();
        QCOMPARE(dialog.messages.size(), 1);
        QVERIFY(dialog.messages[0].contains("SmtpHost, Pop3Host, MailboxUser, MailboxPassword, MailboxAddress, Recipient"));
        QVERIFY(dialog.Progress() == nullptr);
    }

    // POP3 from a scripted peer (Debian has no POP3 server that runs without system set-up),
    // SMTP from Python's own smtpd.
    void sendsTheMailAndShowsEveryStep() {
        ScriptedPeer pop3({Pop3Session});
        const std::uint16_t smtpPort = testing::FreePort();
        PythonServer smtp({"-m", "smtpd", "-n", "-c", "DebuggingServer", "127.0.0.1:" + QString::number(smtpPort)},
                          smtpPort);
        RecordingDialog dialog(Settings(pop3.Port(), smtpPort));
        dialog.NameField()->setText("Ann");
        dialog.EmailField()->setText("ann@home.test");
        dialog.SubjectList()->setCurrentIndex(1);
        dialog.MessageField()->setPlainText("It broke.\n.\nTwice.");
        dialog.Send();
        ui::SendProgressDialog* progress = dialog.Progress();
        QVERIFY(progress != nullptr);
        QCOMPARE(progress->windowTitle(), QString("Sending Message"));
        QTRY_COMPARE_WITH_TIMEOUT(progress->Button()->text(), QString("Close"), 10000);
        QCOMPARE(progress->Status(), QString("Done..."));
        QCOMPARE(progress->Percent(), 100);
        QTRY_VERIFY_WITH_TIMEOUT(smtp.Output().contains("END MESSAGE"), 5000);
        const QString received = smtp.Output();
        QVERIFY2(received.contains("b'Subject: Bug Report'\nb'X-Mailer: <ZE Deri>'"), qPrintable(received));
        QVERIFY2(received.contains("b'Ann'\nb'ann@home.test'\nb''\nb'It broke.'\nb'.'\nb'Twice.'\nb''\n"
                                   "b'Tolvane-Daemon Version 0.2 - Build 7'"),
                 qPrintable(received));
        QTest::mouseClick(progress->Button(), Qt::LeftButton);
        QTRY_VERIFY(dialog.Progress() == nullptr);
    }

    void cancelEndsAWaitForASilentServerAtOnce() {
        ScriptedPeer silent({[](PeerLink& link) { link.WaitClosed(); }});
        RecordingDialog dialog(Settings(silent.Port(), 1));
        dialog.Send();
        ui::SendProgressDialog* progress = dialog.Progress();
        QTRY_COMPARE(progress->Status(), QString("Connecting to Server"));
        QCOMPARE(progress->Button()->text(), QString("Cancel"));
        QTest::mouseClick(progress->Button(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(progress->Button()->text(), QString("Close"), 1000);
        QCOMPARE(progress->Status(), QString("Connecting to Server"));
    }

    void theHelpMenuOpensBothDialogs() {
        std::filesystem::create_directories(home_.path() / "server");
        server::Server server(home_.path() / "server");
        QVERIFY(!server.InitDatabase());
        {
            ui::MainWindow window(server, false);
            QMenu* help = window.menuBar()->actions().last()->menu();
            for (QAction* action : help->actions())
                if (action->text() == "Report a Bug" || action->text() == "Update Check") action->trigger();
            auto* contact = window.findChild<ui::ContactDialog*>();
            auto* update = window.findChild<ui::UpdateCheckDialog*>();
            QVERIFY(contact != nullptr && contact->isVisible());
            QVERIFY(update != nullptr && update->isVisible());
            QVERIFY(update->Status().contains("[UpdateCheck]"));
        }
        server.Shutdown();
    }
};

QTEST_MAIN(ContactDialogTest)
#include "ContactDialogTest.moc"
