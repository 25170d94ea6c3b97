// Folders that hold more than pictures: FIFOs, sockets, devices and links to them are left out
// of the listing, and a file that turns into one of them (or goes away) between listing and
// load gives the load-failure message, never a program that waits for ever.
#include "main_window_fixture.h"
#include "picture/stream.h"
#include "workspace/folder_listing.h"

#include <QDir>
#include <QFile>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace sorowa;

namespace {

class HostileFolder : public test::MainWindowFixture {};

void MakeFifo(const QString& path) {
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
}

void Link(const QString& target, const QString& path) {
    ASSERT_EQ(symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()),
              0);
}

// A listening Unix socket bound at path, closed with the test.
struct Socket {
    explicit Socket(const QString& path) {
        fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(),
                    std::min<std::size_t>(name.size(), sizeof address.sun_path - 1));
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Socket() { close(fd); }
    int fd = -1;
    bool bound = false;
};

TEST_F(HostileFolder, OnlyRegularFilesAndLinksToThemAreListed) {
    test::TempFolder folder;
    folder.Write("real.bmp", test::MakeBmp(3, 3));
    MakeFifo(folder.File("a.jpg"));
    Socket socket(folder.File("s.bmp"));
    ASSERT_TRUE(socket.bound);
    Link("/dev/zero", folder.File("z.bmp"));
    Link(folder.File("real.bmp"), folder.File("link.bmp"));
    Link(folder.File("a.jpg"), folder.File("fifo-link.gif"));
    Link(folder.File("nowhere.bmp"), folder.File("dangling.bmp"));
    Open(folder.Path());
    EXPECT_EQ(Captions(), (QStringList{"1;link.bmp", "2;real.bmp"}));
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(HostileFolder, AFileThatChangesBetweenListingAndLoadGivesTheLoadFailureMessage) {
    test::TempFolder folder;
    for (const char* name : {"1.bmp", "2.bmp", "3.jpg", "4.gif", "5.bmp"})
        folder.Write(name, test::MakeBmp(3, 3));
    // Between the listing and the loads: one file goes, one becomes a FIFO, one a link to
    // /dev/zero, one a folder.
    TFileList list;
    list.SetMask("*.bmp;*.jpg;*.gif");
    list.SetDirectory(folder.Path());
    ASSERT_EQ(list.Items().size(), 5);
    QFile::remove(folder.File("1.bmp"));
    QFile::remove(folder.File("2.bmp"));
    MakeFifo(folder.File("2.bmp"));
    QFile::remove(folder.File("3.jpg"));
    Link("/dev/zero", folder.File("3.jpg"));
    QFile::remove(folder.File("4.gif"));
    ASSERT_TRUE(QDir(folder.Path()).mkdir("4.gif"));
    int number = 0;
    for (const QString& name : list.Items())
        (new TForm_Grp(main->MdiFrame()))
            ->LoadPicture(QString::number(++number), folder.File(name));
    QStringList expected;
    for (const char* name : {"1.bmp", "2.bmp", "3.jpg", "4.gif"})
        expected << "ファイルオープンに失敗しました。\n" + folder.File(name);
    EXPECT_EQ(messages.Texts(), expected);
    EXPECT_EQ(Windows().size(), 5);
    main->MF_CloseClick();
}

TEST(FileStream, ReadsNoMoreThanTheSizeTheFileHadWhenOpened) {
    test::TempFolder folder;
    const QString path = folder.Write("growing.bmp", QByteArray(1000, 'a'));
    TFileStream stream(path);
    QFile more(path);
    ASSERT_TRUE(more.open(QIODevice::Append));
    more.write(QByteArray(5000, 'b'));
    more.close();
    EXPECT_EQ(stream.Size(), 1000);
    EXPECT_EQ(stream.ReadRemaining().size(), 1000u);
    // Shrunk below what was seen: the read simply ends early.
    ASSERT_TRUE(QFile::resize(path, 10));
    stream.SetPosition(0);
    EXPECT_EQ(stream.ReadRemaining().size(), 10u);
}

} // namespace
