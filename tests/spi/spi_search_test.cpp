// The plug-in set: finding, loading, registering and choosing plug-ins.
#include "picture/picture.h"
#include "platform/directories.h"
#include "plugin_files.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa::test {
namespace {

int Registrations(const QString& extension) {
    int count = 0;
    for (const TFileFormat& format : PictureFormats())
        if (format.extension == extension && format.graphicClass == &TSPIBitmap::Class) ++count;
    return count;
}

QStringList FileNames(const TSPIs& set) {
    QStringList names;
    for (int i = 0; i < set.Count(); ++i)
        names << set.Items(i).FileName();
    return names;
}

class SPIsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSPIBitmap();
        ClearPluginEvents();
        previousDirectory_ = platform::CurrentDirectory();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.Path());
    }
    void TearDown() override {
        UnregisterSPIBitmap();
        platform::SetCurrentDirectory(previousDirectory_);
    }
    void SetSusieDirectory(const QString& path) {
        QDir().mkpath(settings.File(QStringLiteral("Velmaris")));
        QSettings susie(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmaris"),
                        QStringLiteral("Susie"));
        susie.setValue(QStringLiteral("Plug-in/Path"), path);
    }

    TempFolder settings;
    TempFolder folder;

private:
    QString previousDirectory_;
};

TEST_F(SPIsTest, OnlyOneSetAtATime) {
    EXPECT_EQ(TSPIs::Instance(), nullptr);
    {
        TSPIs set;
        EXPECT_EQ(TSPIs::Instance(), &set);
        try {
            TSPIs second;
            ADD_FAILURE() << "a second set";
        } catch (const ESPIDupCreateSPIs& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("TSPIs は複数生成できません"));
        }
        EXPECT_EQ(TSPIs::Instance(), &set);
    }
    EXPECT_EQ(TSPIs::Instance(), nullptr);
    TSPIs again;
    EXPECT_EQ(TSPIs::Instance(), &again);
}

TEST_F(SPIsTest, SearchLoadsEveryUsablePluginOnceAndRegistersPicturePatterns) {
    const QString dir = folder.Path();
    for (const char* name :
         {"tppicture", "tpmulti", "tplower", "tparchive", "tpnoinfo", "tpnopicture", "tphalfpair"})
        CopyPlugin(name, dir);
    folder.Write(QStringLiteral("junk.spi"), "MZ this is no library");
    folder.Write(QStringLiteral("empty.spi"), "");
    CopyPlugin(QStringLiteral("tppicturetoo"), dir, QStringLiteral(".hidden.spi"));
    QDir(dir).mkdir(QStringLiteral("folder.spi"));
    ASSERT_EQ(mkfifo(QFile::encodeName(folder.File(QStringLiteral("fifo.spi"))).constData(), 0600),
              0);
    QFile::link(folder.File(QStringLiteral("fifo.spi")), folder.File(QStringLiteral("link.spi")));

    QStringList searching;
    {
        TSPIs set;
        set.OnSearching = [&](TSPIs&, const QString& path, bool&) {
            searching << QFileInfo(path).fileName();
            // Files that appear during the search wait for the next one.
            if (searching.size() == 1) CopyPlugin(QStringLiteral("tppicturetoo"), dir, "late.spi");
        };
        set.Search(dir + QStringLiteral("/*.spi"));

        QStringList classes;
        for (int i = 0; i < set.Count(); ++i)
            classes << QString::fromLatin1(set.Items(i).ClassType().name) + u':' +
                           QFileInfo(set.Items(i).FileName()).fileName();
        classes.sort();
        EXPECT_EQ(classes,
                  (QStringList{"TAmSPI:tparchive.spi", "TInSPI:tphalfpair.spi",
                               "TInSPI:tpmulti.spi", "TInSPI:tppicture.spi", "TSPI:tplower.spi"}));
        searching.sort();
        EXPECT_EQ(searching, (QStringList{"empty.spi", "junk.spi", "link.spi", "tparchive.spi",
                                          "tphalfpair.spi", "tplower.spi", "tpmulti.spi",
                                          "tpnoinfo.spi", "tpnopicture.spi", "tppicture.spi"}));
        EXPECT_EQ(CountEvents("tppicturetoo", "load"), 0); // hidden, and late
        for (const char* ext : {"tpi", "jpg", "jpeg", "jpe", "tpx", "tpm"})
            EXPECT_EQ(Registrations(QString::fromLatin1(ext)), 1) << ext;
        for (const char* ext : {"low", "arc", "half"})
            EXPECT_EQ(Registrations(QString::fromLatin1(ext)), 0) << ext;
        for (const char* name : {"tppicture", "tpmulti", "tplower", "tparchive", "tphalfpair"}) {
            EXPECT_EQ(CountEvents(name, "load"), 1) << name;
            EXPECT_EQ(CountEvents(name, "info", 0), 2) << name;
            EXPECT_EQ(CountEvents(name, "release"), 0) << name;
        }
        // A second search finds every path in the set already.
        set.Search(dir + QStringLiteral("/tp*.spi"));
        EXPECT_EQ(set.Count(), 5);
    }
    for (const char* name : {"tppicture", "tpmulti", "tplower", "tparchive", "tphalfpair"})
        EXPECT_EQ(CountEvents(name, "release"), 1) << name;
}

TEST_F(SPIsTest, PlacesAreSearchedInOrderAndAPathIsLoadedOnce) {
    TempFolder susie, app, current, system;
    SetSusieDirectory(susie.Path());
    CopyPlugin(QStringLiteral("tppicture"), susie.Path(), QStringLiteral("a.spi"));
    CopyPlugin(QStringLiteral("tppicture"), app.Path(), QStringLiteral("b.spi"));
    CopyPlugin(QStringLiteral("tppicture"), current.Path(), QStringLiteral("c.spi"));
    CopyPlugin(QStringLiteral("tppicture"), system.Path(), QStringLiteral("d.spi"));
    platform::SetCurrentDirectory(current.Path());

    TSPIs set;
    set.Places = {.programFile = app.File(QStringLiteral("sorowa")),
                  .windowsDirectory = app.Path(), // the program's folder again
                  .systemDirectory = system.Path()};
    set.SearchOptions = {TSPISearchOption::spsWindowsDir, TSPISearchOption::spsSystemDir,
                         TSPISearchOption::spsCurrentDir, TSPISearchOption::spsAppDir,
                         TSPISearchOption::spsSusieDir};
    set.Loaded();
    EXPECT_EQ(FileNames(set), (QStringList{susie.File("a.spi"), app.File("b.spi"),
                                           current.File("c.spi"), system.File("d.spi")}));
    // The same plug-in file in four folders: four plug-ins, four registrations.
    EXPECT_EQ(Registrations(QStringLiteral("tpi")), 4);
    EXPECT_EQ(CountEvents("tppicture", "load"), 4);
    EXPECT_EQ(set.IndexOf(app.File("B.SPI")), 1);
    EXPECT_EQ(set.IndexOf(app.File("x.spi")), -1);
}

TEST_F(SPIsTest, MissingOrEmptySusieFolderIsSkipped) {
    CopyPlugin(QStringLiteral("tppicture"), folder.Path());
    for (const QString& susie : {QString(), QStringLiteral("/nonexistent/folder")}) {
        if (!susie.isNull()) SetSusieDirectory(susie);
        EXPECT_EQ(SusieDirectory(), susie);
        TSPIs set; // default search options: the Susie folder, the program's folder
        set.Places.programFile = folder.File(QStringLiteral("sorowa"));
        set.Loaded();
        EXPECT_EQ(FileNames(set), QStringList{folder.File(QStringLiteral("tppicture.spi"))});
    }
}

// A plug-in runs as the user: one that someone else could have put or changed is not loaded,
// nor one reached through a link, nor one in a Susie folder given relative to wherever the
// program happens to start.
TEST_F(SPIsTest, PluginsOthersCouldHavePlantedAreNotLoaded) {
    const auto encoded = [](const QString& path) { return QFile::encodeName(path); };
    struct Case {
        const char* name;
        std::function<QString(TempFolder&)> plant; // returns the folder to search
    };
    const Case cases[] = {
        {"world-writable folder",
         [&](TempFolder& f) {
             CopyPlugin(QStringLiteral("tppicture"), f.Path());
             ::chmod(encoded(f.Path()).constData(), 0777);
             return f.Path();
         }},
        {"group-writable file",
         [&](TempFolder& f) {
             ::chmod(encoded(CopyPlugin(QStringLiteral("tppicture"), f.Path())).constData(), 0664);
             return f.Path();
         }},
        {"link to a plug-in",
         [&](TempFolder& f) {
             QDir(f.Path()).mkdir(QStringLiteral("real"));
             const QString real = CopyPlugin(QStringLiteral("tppicture"), f.File("real"));
             QDir(f.Path()).mkdir(QStringLiteral("searched"));
             QFile::link(real, f.File(QStringLiteral("searched/tppicture.spi")));
             return f.File(QStringLiteral("searched"));
         }},
        {"file of another user",
         [&](TempFolder& f) {
             const QString path = CopyPlugin(QStringLiteral("tppicture"), f.Path());
             if (::geteuid() == 0) ::chown(encoded(path).constData(), 65534, 65534);
             return ::geteuid() == 0 ? f.Path() : QString();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearPluginEvents();
        TempFolder planted;
        const QString searched = c.plant(planted);
        if (searched.isEmpty()) continue; // needs root
        TSPIs set;
        set.Search(searched + QStringLiteral("/*.spi"));
        EXPECT_EQ(set.Count(), 0);
        EXPECT_EQ(CountEvents("tppicture", "load"), 0);
    }

    ClearPluginEvents();
    QDir(folder.Path()).mkdir(QStringLiteral("plugins"));
    CopyPlugin(QStringLiteral("tppicture"), folder.File(QStringLiteral("plugins")));
    platform::SetCurrentDirectory(folder.Path());
    for (const QString& susie :
         {QStringLiteral("plugins"), folder.File(QStringLiteral("plugins"))}) {
        SetSusieDirectory(susie);
        TSPIs set;
        set.SearchOptions = {TSPISearchOption::spsSusieDir};
        set.Loaded();
        EXPECT_EQ(set.Count(), susie.startsWith(u'/') ? 1 : 0) << susie.toStdString();
    }
}

TEST_F(SPIsTest, HooksDecideWhatIsLoadedKeptAndRegistered) {
    CopyPlugin(QStringLiteral("tppicture"), folder.Path());
    CopyPlugin(QStringLiteral("tpmulti"), folder.Path());
    CopyPlugin(QStringLiteral("tplower"), folder.Path());
    TSPIs set;
    set.OnSearching = [](TSPIs&, const QString& path, bool& accept) {
        accept = !path.endsWith(QStringLiteral("tplower.spi"));
    };
    set.OnSearch = [](TSPIs&, TSPI& spi, bool& accept) {
        if (spi.PluginName() == QLatin1String("tppicture")) throw Exception(QStringLiteral("x"));
        accept = true;
    };
    QStringList seen;
    set.OnPictureRegister = [&](TSPIs&, TInSPI&, const QString& extension, const QString&,
                                const TGraphicClass*& graphicClass) {
        seen << extension;
        if (extension == QLatin1String("jpg")) graphicClass = nullptr; // stays for jpeg, jpe
    };
    set.Search(folder.Path() + QStringLiteral("/*.spi"));
    EXPECT_EQ(FileNames(set), QStringList{folder.File(QStringLiteral("tpmulti.spi"))});
    EXPECT_EQ(CountEvents("tplower", "load"), 0);
    EXPECT_EQ(CountEvents("tppicture", "release"), 1);
    EXPECT_EQ(seen, (QStringList{"jpg", "jpeg", "jpe", "tpx", "tpm"}));
    EXPECT_EQ(Registrations(QStringLiteral("jpeg")), 0);
    EXPECT_EQ(Registrations(QStringLiteral("tpx")), 1);
}

TEST_F(SPIsTest, FindSPIsPutsClaimantsFirstTheLatestFirst) {
    // A (no *.tpi), B and C (both *.tpi), in this set order; and an archive plug-in.
    TSPIs set;
    set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tpmulti"), folder.Path(), "a.spi")));
    set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tppicture"), folder.Path(), "b.spi")));
    set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tparchive"), folder.Path(), "z.spi")));
    set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tppicture"), folder.Path(), "c.spi")));
    ASSERT_EQ(set.Count(), 4);
    const auto find = [&](const QString& name) {
        std::vector<TSPI*> list;
        set.FindSPIs({&TInSPI::Class}, list, name);
        QStringList names;
        for (TSPI* spi : list)
            names << QFileInfo(spi->FileName()).fileName();
        return names;
    };
    EXPECT_EQ(find(QStringLiteral("PHOTO.TPI")), (QStringList{"c.spi", "b.spi", "a.spi"}));
    EXPECT_EQ(find(QStringLiteral("x.jpe")), (QStringList{"a.spi", "b.spi", "c.spi"}));
    // The last pattern of an entry counts: *.jpg;*.jpeg;*.jpe claims .jpe only.
    EXPECT_EQ(find(QStringLiteral("x.jpg")), (QStringList{"a.spi", "b.spi", "c.spi"}));
    EXPECT_EQ(find(QStringLiteral("x.tpm")), (QStringList{"a.spi", "b.spi", "c.spi"}));
    EXPECT_EQ(find(QStringLiteral("noextension")), (QStringList{"a.spi", "b.spi", "c.spi"}));
    set.Delete(0);
    EXPECT_EQ(find(QStringLiteral("x.tpi")), (QStringList{"c.spi", "b.spi"}));
    set.Clear();
    EXPECT_EQ(set.Count(), 0);
}

} // namespace
} // namespace sorowa::test
