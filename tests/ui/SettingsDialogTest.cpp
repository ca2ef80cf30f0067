#include "store/ProfileFile.h"
#include "store/ProgramSettings.h"
#include "server/Server.h"
#include "ui/ColourList.h"
#include "ui/Language.h"
#include "ui/SettingsDialog.h"

#include <QAbstractItemDelegate>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QtEndian>

#include <memory>
#include <optional>

#include "TempFolder.h"

using namespace tolvane;
namespace fs = std::filesystem;

namespace {

// Records what the dialog would show in a message box.
class RecordingDialog : public ui::SettingsDialog {
public:
    using SettingsDialog::SettingsDialog;
    QStringList messages;

protected:
    void ShowMessage(const QString& text) override { messages << text; }
};

// ---- a minimal Qt translation file: one message of one context ----

QByteArray BigEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray Block(char tag, const QByteArray& data) { return QByteArray(1, tag) + BigEndian32(data.size()) + data; }

quint32 ElfHash(const QByteArray& text) {
    quint32 hash = 0;
    for (const char c : text) {
        hash = (hash << 4) + static_cast<uchar>(c);
        const quint32 high = hash & 0xF0000000;
        if (high != 0) hash ^= high >> 24;
        hash &= ~high;
    }
    return hash == 0 ? 1 : hash;
}

QByteArray QmMagic() { return QByteArray::fromHex("3CB86418CAEF9C95CD211CBF60A1BDDD"); }

QByteArray BigEndian16(quint16 value) { return BigEndian32(value).right(2); }

QByteArray Message(const QByteArray& context, const QByteArray& source, const QString& translation) {
    QByteArray utf16;
    for (const QChar c : translation) utf16 += BigEndian16(c.unicode());
    return Block(0x03, utf16) + Block(0x06, source) + Block(0x07, context) + '\x01';
}

QByteArray Hashes(const QByteArray& source, quint32 offset) {
    return Block(0x42, BigEndian32(ElfHash(source)) + BigEndian32(offset));
}

// A one-slot context table listing one context.
QByteArray Contexts(const QByteArray& context) {
    return Block(0x2F, BigEndian16(1) + BigEndian16(1) + QByteArray(2, '\0') + char(context.size()) + context + '\0');
}

QByteArray QmFile(const QByteArray& context, const QByteArray& source, const QString& translation) {
    return QmMagic() + Contexts(context) + Hashes(source, 0) + Block(0x69, Message(context, source, translation));
}

// Loads, but a lookup of "Server" reads far beyond the file.
QByteArray SourceTextPastTheEnd() {
    QByteArray message = Message("tolvane::ui::SettingsDialog", "Server", "Serveur");
    message.replace(Block(0x06, "Server"), QByteArray("\x06\x7F\xFF\xFF\xF0", 5));
    return QmMagic() + Hashes("Server", 0) + Block(0x69, message);
}

// A dependencies block naming one other translation file.
QByteArray Dependency(const std::filesystem::path& file) {
    const QString name = QString::fromStdString(file.string());
    QByteArray utf16;
    for (const QChar c : name) utf16 += BigEndian16(c.unicode());
    return Block(static_cast<char>(0x96), BigEndian32(utf16.size()) + utf16);
}

void WriteBytes(const fs::path& file, const QByteArray& bytes) {
    WriteText(file, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

int CreatingSocketsLines(server::Server& server) {
    int count = 0;
    for (const auto& record : server.Shared().Log().Records())
        count += record.text.starts_with(" - Creating Server-Sockets ...") ? 1 : 0;
    return count;
}

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<server::Server> server_;
    std::optional<QByteArray> configHome_;

    fs::path Home() const { return folder_->path(); }
    fs::path SettingsFile() const { return Home() / "Settings.ini"; }
    store::ProgramSettings Stored() const { return store::ReadProgramSettings(SettingsFile()); }

    template <typename Widget>
    static Widget* Child(QWidget& dialog, const char* name) {
        auto* widget = dialog.findChild<Widget*>(name);
        if (widget == nullptr) qFatal("no widget named %s", name);
        return widget;
    }

    static ui::ColourList* Colours(QWidget& dialog, const char* name) { return Child<ui::ColourList>(dialog, name); }

private slots:
    void init() {
        folder_ = std::make_unique<TempFolder>();
        if (qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) configHome_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((Home() / "config").string()));
        server_ = std::make_unique<server::Server>(Home());
    }

    void cleanup() {
        server_.reset();
        if (configHome_) {
            qputenv("XDG_CONFIG_HOME", *configHome_);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
        configHome_.reset();
        folder_.reset();
    }

    // ---- opening ----

    void aFreshHomeShowsTheDefaults() {
        RecordingDialog dialog(*server_);
        QCOMPARE(dialog.windowTitle(), QString("FTP Server Settings"));
        auto* tabs = Child<QTabWidget>(dialog, "settingsTabs");
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QString("Server"));
        QCOMPARE(tabs->tabText(1), QString("Logging Colors"));
        QCOMPARE(tabs->tabText(2), QString("Language"));

        QCOMPARE(Child<QLineEdit>(dialog, "serverPortEdit")->text(), QString("21"));
        QCOMPARE(Child<QLineEdit>(dialog, "maximumUserEdit")->text(), QString());
        QCOMPARE(Child<QLineEdit>(dialog, "maximumTransfersEdit")->text(), QString());
        QCOMPARE(Child<QLineEdit>(dialog, "welcomeMsgEdit")->text(), QString());
        QVERIFY(!Child<QCheckBox>(dialog, "startAsTrayIconBox")->isChecked());
        QVERIFY(!Child<QCheckBox>(dialog, "runAsSystemServiceBox")->isChecked());
        QVERIFY(!Child<QCheckBox>(dialog, "onlineAtStartupBox")->isChecked());

        QCOMPARE(Colours(dialog, "backgroundColourList")->currentText(), QString("White"));
        QCOMPARE(Colours(dialog, "systemMessagesColourList")->currentText(), QString("Blue"));
        QCOMPARE(Colours(dialog, "serverRepliesColourList")->currentText(), QString("Green"));
        QCOMPARE(Colours(dialog, "remoteCommandsColourList")->currentText(), QString("DarkBlue"));
        QCOMPARE(Colours(dialog, "errorMessagesColourList")->currentText(), QString("Red"));

        QCOMPARE(Child<QLabel>(dialog, "currentLanguageLabel")->text(), QString("ResDLL_English.qm"));
        auto* note = Child<QLabel>(dialog, "restartNote");
        QCOMPARE(note->text(), QString("This option requires a restart."));
        QCOMPARE(note->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(!fs::exists(SettingsFile()));
    }

    void onlyTheMainGroupShowsOnTheServerTab() {
        RecordingDialog dialog(*server_);
        for (const char* name : {"serverPortEdit", "maximumUserEdit", "maximumTransfersEdit", "welcomeMsgEdit",
                                 "welcomeMsgBrowseButton"})
            QVERIFY2(!Child<QWidget>(dialog, name)->isVisibleTo(&dialog), name);
        auto* main = Child<QGroupBox>(dialog, "mainGroup");
        QCOMPARE(main->title(), QString(" Main "));
        QVERIFY(main->isVisibleTo(&dialog));
        QVERIFY(Child<QCheckBox>(dialog, "startAsTrayIconBox")->isEnabled());
        QVERIFY(!Child<QCheckBox>(dialog, "runAsSystemServiceBox")->isEnabled());
        QVERIFY(Child<QCheckBox>(dialog, "onlineAtStartupBox")->isEnabled());
    }

    void aCustomColourIsSelectedWithItsValue() {
        WriteText(SettingsFile(), "[LoggingWindow]\nErrorMessagesText=Custom\nErrorMessageColor=255\n"
                                  "ServerRepliesText=NoSuchColour\nBackgroundText=yellow\n");
        RecordingDialog dialog(*server_);
        auto* errors = Colours(dialog, "errorMessagesColourList");
        QCOMPARE(errors->currentText(), QString("Custom"));
        QCOMPARE(errors->Selected().colour, store::Colour{255});
        QCOMPARE(ui::ToQColor(errors->Selected().colour), QColor(Qt::red));
        QCOMPARE(Colours(dialog, "serverRepliesColourList")->currentText(), QString("Green"));
        QCOMPARE(Colours(dialog, "backgroundColourList")->currentText(), QString("Yellow"));
    }

    // ---- confirming ----

    void everyKeyRoundTrips() {
        WriteBytes(Home() / "Languages" / "ResDLL_German.qm", QmMagic());
        {
            RecordingDialog dialog(*server_);
            Child<QLineEdit>(dialog, "serverPortEdit")->setText("2121");
            Child<QLineEdit>(dialog, "maximumUserEdit")->setText("7");
            Child<QLineEdit>(dialog, "maximumTransfersEdit")->setText("3");
            Child<QLineEdit>(dialog, "welcomeMsgEdit")->setText("/srv/ftp/welcome.txt");
            Child<QCheckBox>(dialog, "startAsTrayIconBox")->setChecked(true);
            Child<QCheckBox>(dialog, "runAsSystemServiceBox")->setChecked(true);
            Child<QCheckBox>(dialog, "onlineAtStartupBox")->setChecked(true);
            Colours(dialog, "backgroundColourList")->Select({"Black", 0});
            Colours(dialog, "systemMessagesColourList")->Select({"Yellow", 0});
            Colours(dialog, "serverRepliesColourList")->Select({"Custom", 0x123456});
            Colours(dialog, "remoteCommandsColourList")->Select({"White", 0});
            Colours(dialog, "errorMessagesColourList")->Select({"Blue", 0});
            auto* languages = Child<QTreeWidget>(dialog, "languageList");
            languages->setCurrentItem(languages->topLevelItem(0));
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.messages, QStringList{"Setting Service was successfully"});
        }
        const store::ProgramSettings stored = Stored();
        QCOMPARE(stored.serverPort, 2121);
        QCOMPARE(stored.maximumUser, 7);
        QCOMPARE(stored.maximumTransfers, 3);
        QCOMPARE(stored.welcomeMsg, std::string("/srv/ftp/welcome.txt"));
        QCOMPARE(stored.startAsTrayIcon, 1);
        QCOMPARE(stored.runAsSystemService, 1);
        QCOMPARE(stored.onlineAtStartup, 1);
        QCOMPARE(stored.languageSelection, std::string("ResDLL_German"));
        QVERIFY(stored.ColourOf(store::LogColourKind::Background) == (store::ColourChoice{"Black", 0x000000}));
        QVERIFY(stored.ColourOf(store::LogColourKind::SystemMessages) == (store::ColourChoice{"Yellow", 0x00FFFF}));
        QVERIFY(stored.ColourOf(store::LogColourKind::ServerReplies) == (store::ColourChoice{"Custom", 0x123456}));
        QVERIFY(stored.ColourOf(store::LogColourKind::RemoteCommands) == (store::ColourChoice{"White", 0xFFFFFF}));
        QVERIFY(stored.ColourOf(store::LogColourKind::ErrorMessages) == (store::ColourChoice{"Blue", 0xFF6600}));
        QCOMPARE(store::ReadLogColours(SettingsFile()).errorMessages, store::Colour{0xFF6600});
        QCOMPARE(server_->Shared().WelcomeFile(), std::string("/srv/ftp/welcome.txt"));
        QVERIFY(fs::exists(Home() / "config" / "autostart" / "tolvane.desktop"));

        RecordingDialog reopened(*server_);
        QCOMPARE(Child<QLineEdit>(reopened, "serverPortEdit")->text(), QString("2121"));
        QCOMPARE(Child<QLineEdit>(reopened, "maximumUserEdit")->text(), QString("7"));
        QCOMPARE(Child<QLineEdit>(reopened, "maximumTransfersEdit")->text(), QString("3"));
        QCOMPARE(Child<QLineEdit>(reopened, "welcomeMsgEdit")->text(), QString("/srv/ftp/welcome.txt"));
        QVERIFY(Child<QCheckBox>(reopened, "startAsTrayIconBox")->isChecked());
        QVERIFY(Child<QCheckBox>(reopened, "runAsSystemServiceBox")->isChecked());
        QVERIFY(Child<QCheckBox>(reopened, "onlineAtStartupBox")->isChecked());
        QCOMPARE(Colours(reopened, "backgroundColourList")->currentText(), QString("Black"));
        QCOMPARE(Colours(reopened, "systemMessagesColourList")->currentText(), QString("Yellow"));
        QVERIFY(Colours(reopened, "serverRepliesColourList")->Selected() == (store::ColourChoice{"Custom", 0x123456}));
        QCOMPARE(Colours(reopened, "remoteCommandsColourList")->currentText(), QString("White"));
        QCOMPARE(Colours(reopened, "errorMessagesColourList")->currentText(), QString("Blue"));
        QCOMPARE(Child<QLabel>(reopened, "currentLanguageLabel")->text(), QString("ResDLL_German.qm"));

        // Switching the autostart off again removes the entry, without a message.
        Child<QCheckBox>(reopened, "runAsSystemServiceBox")->setChecked(false);
        reopened.accept();
        QVERIFY(reopened.messages.isEmpty());
        QVERIFY(!fs::exists(Home() / "config" / "autostart" / "tolvane.desktop"));
        QCOMPARE(Stored().runAsSystemService, 0);
    }

    void emptyLimitsAreStoredAsNone() {
        WriteText(SettingsFile(), "[FTPServer-Options]\nMaximumUser=5\nMaximumTransfers=9\n");
        RecordingDialog dialog(*server_);
        Child<QLineEdit>(dialog, "maximumUserEdit")->clear();
        Child<QLineEdit>(dialog, "maximumTransfersEdit")->setText("  ");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(Stored().maximumUser, -1);
        QCOMPARE(Stored().maximumTransfers, -1);
    }

    void aMaximumUsersOfZeroIsRefusedAfterThePortIsSaved_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::newRow("stored as 0, unchanged") << "0" << "0";
        QTest::newRow("typed 0") << "" << "0";
        QTest::newRow("not a number") << "" << "many";
    }

    void aMaximumUsersOfZeroIsRefusedAfterThePortIsSaved() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        WriteText(SettingsFile(), "[FTPServer-Options]\nMaximumUser=" + stored.toStdString() + "\n");
        RecordingDialog dialog(*server_);
        Child<QLineEdit>(dialog, "maximumUserEdit")->setText(typed);
        Child<QLineEdit>(dialog, "serverPortEdit")->setText("2200");
        Child<QLineEdit>(dialog, "welcomeMsgEdit")->setText("/srv/ftp/welcome.txt");
        Child<QCheckBox>(dialog, "startAsTrayIconBox")->setChecked(true);
        dialog.accept();

        QCOMPARE(dialog.messages, QStringList{"Value for Maximum Users is not valid."});
        QVERIFY(dialog.result() != QDialog::Accepted);
        const store::ProfileFile file = store::ProfileFile::Load(SettingsFile());
        QCOMPARE(file.ReadString("FTPServer-Options", "ServerPort", ""), std::string("2200"));
        QCOMPARE(file.ReadString("FTPServer-Options", "MaximumUser", "absent"), stored.toStdString());
        QCOMPARE(file.ReadString("FTPServer-Options", "StartAsTrayIcon", "absent"), std::string("absent"));
        QCOMPARE(file.ReadString("FTPServer-Options", "WelcomeMsg", "absent"), std::string("absent"));
        QCOMPARE(server_->Shared().WelcomeFile(), std::string());
        QCOMPARE(CreatingSocketsLines(*server_), 0);
    }

    void onlyAChangedPortRebuildsTheSockets() {
        {
            RecordingDialog unchanged(*server_);
            unchanged.accept();
            QCOMPARE(unchanged.result(), int(QDialog::Accepted));
        }
        QCOMPARE(CreatingSocketsLines(*server_), 0);
        RecordingDialog changed(*server_);
        Child<QLineEdit>(changed, "serverPortEdit")->setText("2121");
        changed.accept();
        QCOMPARE(CreatingSocketsLines(*server_), 1);
    }

    // ---- language tab ----

    void languageFilesAreListedNewestInsertionFirst() {
        WriteBytes(Home() / "Languages" / "ResDLL_German.qm", QmMagic());
        WriteBytes(Home() / "Languages" / "ResDLL_X.qm", QByteArray("not even a translation"));
        WriteBytes(Home() / "Languages" / "German.qm", QmMagic());
        WriteBytes(Home() / "Languages" / "ResDLL_French.txt", QmMagic());
        fs::create_directories(Home() / "Languages" / "ResDLL_Folder.qm");
        WriteText(SettingsFile(), "[Language]\nSelection=ResDLL_German\n");

        RecordingDialog dialog(*server_);
        auto* list = Child<QTreeWidget>(dialog, "languageList");
        QCOMPARE(list->headerItem()->text(0), QString("File"));
        QCOMPARE(list->headerItem()->text(1), QString("Language"));
        QCOMPARE(list->columnWidth(0), 160);
        QCOMPARE(list->columnWidth(1), 80);
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("ResDLL_X"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("X"));
        QCOMPARE(list->topLevelItem(1)->text(0), QString("ResDLL_German"));
        QCOMPARE(list->topLevelItem(1)->text(1), QString("German"));
        QVERIFY(list->selectedItems().isEmpty());

        // Without a selected row the selection stays as it is.
        dialog.accept();
        QCOMPARE(Stored().languageSelection, std::string("ResDLL_German"));
    }

    void anUnloadableLanguageFallsBackToEnglish_data() {
        const QByteArray message = Message("tolvane::ui::SettingsDialog", "Server", "Serveur");
        const auto file = [&](const QByteArray& blocks) { return QmMagic() + blocks; };
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QByteArray>("content");  // null: no file at all
        QTest::newRow("missing file") << "ResDLL_German" << QByteArray();
        QTest::newRow("not a translation") << "ResDLL_German" << QByteArray("MZ\x90\0garbage", 11);
        QTest::newRow("empty file") << "ResDLL_German" << QByteArray("", 0);
        QTest::newRow("cut in the magic") << "ResDLL_German" << QmMagic().left(9);
        QTest::newRow("block past the end") << "ResDLL_German" << file(Block(0x69, message).chopped(3));
        QTest::newRow("outside the folder") << "../ResDLL_German" << QmMagic();
        QTest::newRow("empty selection") << "" << QmMagic();
        // Files the loader accepts but whose lookups would crash the program.
        QTest::newRow("source text past the end") << "ResDLL_German" << SourceTextPastTheEnd();
        QTest::newRow("translation of negative length")
            << "ResDLL_German" << file(Hashes("Server", 0) + Block(0x69, QByteArray("\x03\xFF\xFF\xFF\xF0\x01", 6)));
        QTest::newRow("hash beyond the messages")
            << "ResDLL_German" << file(Hashes("Server", 0x7FFFFFF0) + Block(0x69, message));
        QTest::newRow("context table without slots")
            << "ResDLL_German" << file(Block(0x2F, BigEndian16(0)) + Hashes("Server", 0) + Block(0x69, message));
        QTest::newRow("context list beyond the table")
            << "ResDLL_German"
            << file(Block(0x2F, BigEndian16(1) + BigEndian16(0xFFFF)) + Hashes("Server", 0) + Block(0x69, message));
    }

    void anUnloadableLanguageFallsBackToEnglish() {
        QFETCH(QString, selection);
        QFETCH(QByteArray, content);
        WriteText(SettingsFile(), "[Language]\nSelection=" + selection.toStdString() + "\n");
        // What "outside the folder" names: a valid translation that must not be reached.
        WriteBytes(Home() / "ResDLL_German.qm", QmFile("tolvane::ui::SettingsDialog", "Server", "Serveur"));
        if (!content.isNull()) WriteBytes(Home() / "Languages" / "ResDLL_German.qm", content);

        QStringList reports;
        const auto translator = ui::LoadLanguage(Home(), [&](const QString& message) { reports << message; });
        QVERIFY(translator == nullptr);
        QCOMPARE(reports, QStringList{"Unable to find/load the standard/selected language dll.\n"
                                      "Now setting standard, if problem still present, re-install. terminating."});
        QCOMPARE(QString::fromStdString(Stored().languageSelection), QString("ResDLL_English"));
        RecordingDialog dialog(*server_);
        QCOMPARE(Child<QTabWidget>(dialog, "settingsTabs")->tabText(0), QString("Server"));
    }

    void aLanguageThatLoadsAnotherFileIsRefused() {
        // Qt would load the other file itself, unchecked.
        const fs::path other = Home() / "Languages" / "ResDLL_Other.qm";
        WriteBytes(other, SourceTextPastTheEnd());
        WriteBytes(Home() / "Languages" / "ResDLL_German.qm", QmMagic() + Dependency(other));
        WriteText(SettingsFile(), "[Language]\nSelection=ResDLL_German\n");
        int reports = 0;
        QVERIFY(ui::LoadLanguage(Home(), [&](const QString&) { ++reports; }) == nullptr);
        QCOMPARE(reports, 1);
        QCOMPARE(QCoreApplication::translate("tolvane::ui::SettingsDialog", "Server"), QString("Server"));
    }

    void englishIsBuiltInAndAnotherLanguageIsInstalled() {
        QStringList reports;
        const auto report = [&](const QString& message) { reports << message; };
        QVERIFY(ui::LoadLanguage(Home(), report) == nullptr);
        QVERIFY(reports.isEmpty());
        QVERIFY2(!fs::exists(SettingsFile()), "English without a file writes nothing");

        WriteBytes(Home() / "Languages" / "ResDLL_French.qm", QmFile("tolvane::ui::SettingsDialog", "Server", "Serveur"));
        WriteText(SettingsFile(), "[Language]\nSelection=ResDLL_French\n");
        {
            const auto translator = ui::LoadLanguage(Home(), report);
            QVERIFY(translator != nullptr);
            QVERIFY(reports.isEmpty());
            RecordingDialog dialog(*server_);
            QCOMPARE(Child<QTabWidget>(dialog, "settingsTabs")->tabText(0), QString("Serveur"));
        }
        // The translation ends with its translator.
        QCOMPARE(QCoreApplication::translate("tolvane::ui::SettingsDialog", "Server"), QString("Server"));
        QCOMPARE(Stored().languageSelection, std::string("ResDLL_French"));
    }

    // ---- colour lists ----

    void choosingCustomAsksForTheColour() {
        RecordingDialog dialog(*server_);
        auto* list = Colours(dialog, "backgroundColourList");
        QColor offered;
        std::optional<QColor> answer = QColor(0x12, 0x34, 0x56);
        list->SetChooser([&](const QColor& initial, QWidget*) {
            offered = initial;
            return answer;
        });
        const int custom = list->count() - 1;
        list->setCurrentIndex(custom);
        emit list->activated(custom);
        QCOMPARE(offered, QColor(Qt::black));
        QVERIFY(list->Selected() == (store::ColourChoice{"Custom", 0x563412}));

        answer.reset();  // cancelled: the entry keeps its colour
        emit list->activated(custom);
        QCOMPARE(offered, QColor(0x12, 0x34, 0x56));
        QVERIFY(list->Selected() == (store::ColourChoice{"Custom", 0x563412}));

        list->setCurrentIndex(1);
        emit list->activated(1);
        QVERIFY(list->Selected() == (store::ColourChoice{"Blue", 0xFF6600}));
        QCOMPARE(list->count(), 8);
    }

    void entriesDrawASwatchOverTheLeftQuarter() {
        ui::ColourList list;
        QImage image(200, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            QStyleOptionViewItem option;
            option.initFrom(&list);
            option.rect = image.rect();
            option.state &= ~QStyle::State_Selected;
            list.itemDelegate()->paint(&painter, option, list.model()->index(4, 0));  // "Red"
        }
        // Inset by 2, framed in black, filled up to the quarter (50 px), nothing beyond.
        QCOMPARE(image.pixelColor(1, 10), QColor(Qt::white));
        QCOMPARE(image.pixelColor(2, 10), QColor(Qt::black));
        QCOMPARE(image.pixelColor(25, 1), QColor(Qt::white));
        QCOMPARE(image.pixelColor(25, 2), QColor(Qt::black));
        QCOMPARE(image.pixelColor(47, 10), QColor(Qt::black));
        QCOMPARE(image.pixelColor(25, 10), QColor(Qt::red));
        QCOMPARE(image.pixelColor(49, 10), QColor(Qt::white));
        bool nameDrawn = false;
        for (int x = 52; x < 200 && !nameDrawn; ++x)
            for (int y = 0; y < 20 && !nameDrawn; ++y) nameDrawn = image.pixelColor(x, y) != QColor(Qt::white);
        QVERIFY2(nameDrawn, "the name right of the swatch");
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "SettingsDialogTest.moc"
