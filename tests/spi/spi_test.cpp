// Creating plug-in objects from real libraries.
#include "plugin_files.h"
#include "spi/spi.h"
#include "support/temp_folder.h"

#include <QFileInfo>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace sorowa::test {
namespace {

struct CreateCase {
    const char* plugin;
    const TSPIClass* cls; // nullptr: not a usable plug-in
    const char* version;
    QStringList filters;
    QStringList descriptions;
};

TEST(CreateSPI, TheApiVersionChoosesTheClassAndTheClassItsEntryPoints) {
    const CreateCase cases[] = {
        {"tppicture", &TInSPI::Class, "00IN", {"*.tpi"}, {"Test picture"}},
        {"tpmulti",
         &TInSPI::Class,
         "00IN",
         {"*.jpg;*.jpeg;*.jpe", "tpx", "*.tpm"},
         {"JPEG picture", "No dot", "Third"}},
        {"tplower", &TSPI::Class, "00in", {"*.low"}, {"Lower case"}},
        {"tparchive", &TAmSPI::Class, "00AM", {"*.arc"}, {"Archive"}},
        {"tphalfpair", &TInSPI::Class, "00IN", {}, {}}, // a pattern without its description
        {"tpnoinfo", nullptr, "", {}, {}},
        {"tpnopicture", nullptr, "", {}, {}},
        {"tpscripted", &TSPI::Class, "", {}, {}}, // answers nothing at all
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(c.plugin);
        ClearPluginEvents();
        std::unique_ptr<TSPI> spi = TSPIs::CreateSPI(BuiltPlugin(QString::fromLatin1(c.plugin)));
        if (c.cls == nullptr) {
            EXPECT_EQ(spi, nullptr);
        } else {
            ASSERT_NE(spi, nullptr);
            EXPECT_EQ(&spi->ClassType(), c.cls);
            EXPECT_EQ(spi->APIVersion(), QString::fromLatin1(c.version));
            EXPECT_EQ(spi->Filters(), c.filters);
            EXPECT_EQ(spi->Descriptions(), c.descriptions);
            EXPECT_EQ(spi->Loader(), c.cls == &TInSPI::Class || c.cls == &TAmSPI::Class);
            EXPECT_EQ(spi->FileName(), QFileInfo(BuiltPlugin(c.plugin)).absoluteFilePath());
            if (QLatin1String(c.plugin) != QLatin1String("tpscripted")) {
                EXPECT_EQ(spi->PluginName(), QString::fromLatin1(c.plugin));
            }
            // Two loads, two series of info calls, one release so far.
            EXPECT_EQ(CountEvents(c.plugin, "info", 0), 2);
            spi.reset();
        }
        // Whatever happened, the library is released in the end.
        EXPECT_EQ(CountEvents(c.plugin, "load"), 1);
        EXPECT_EQ(CountEvents(c.plugin, "release"), 1);
    }
}

TEST(CreateSPI, ErrorsNameTheFileAndTheEntryPoint) {
    TempFolder folder;
    const QString junk = folder.Write(QStringLiteral("junk.spi"), "not a library at all");
    try {
        TSPI::Create<TInSPI>(junk);
        ADD_FAILURE() << "loaded";
    } catch (const ESPIFOpenErrorSPI& e) {
        EXPECT_EQ(e.Message(), junk + QStringLiteral(":Susie Pluginがロードできませんでした"));
    }
    ClearPluginEvents();
    const QString noPicture = BuiltPlugin(QStringLiteral("tpnopicture"));
    try {
        TSPI::Create<TInSPI>(noPicture);
        ADD_FAILURE() << "created";
    } catch (const ESPIInvalidAPI& e) {
        EXPECT_EQ(
            e.Message(),
            QStringLiteral("GetPictureは[%1]では使えないSusie Plugin APIです").arg(noPicture));
    }
    EXPECT_EQ(CountEvents("tpnopicture", "release"), 1); // the half-made object let it go

    // An entry point that is absent fails when it is called, naming itself.
    std::unique_ptr<TSPI> plain = TSPI::Create<TSPI>(noPicture);
    std::uint32_t a = 0, b = 0;
    try {
        plain->GetPicture(nullptr, 0, 1, &a, &b, nullptr, 0);
        ADD_FAILURE() << "called";
    } catch (const ESPIInvalidAPI& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("GetPictureは[")));
    }
}

// Plug-ins that return garbage lengths, texts without NUL, or write past the buffer: each is
// read safely or refused, and the program goes on.
TEST(CreateSPI, HostileInfoTextsAreReadSafelyOrRefused) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        bool overran = false;
        SetInfoScript([&](std::int32_t index, char* buffer, std::int32_t length) -> std::int32_t {
            if (index > 12 || random() % 6 == 0) return static_cast<std::int32_t>(random() % 3) - 1;
            const char* version[] = {"00IN", "00AM", "00XN", "00in"};
            std::size_t written = random() % (static_cast<std::size_t>(length) + 1);
            const bool overrun = random() % 10 == 0;
            if (overrun) written = static_cast<std::size_t>(length) + 2 + random() % 2000;
            for (std::size_t i = 0; i < written; ++i)
                buffer[i] = static_cast<char>(1 + random() % 255); // no NUL anywhere
            if (index == 0 && !overrun && random() % 2 == 0)
                std::strcpy(buffer, version[random() % 4]);
            overran = overran || overrun;
            const std::int32_t results[] = {1, 255, 256, 100000, INT32_MAX, INT32_MIN, -5};
            return results[random() % 7];
        });
        std::unique_ptr<TSPI> spi = TSPIs::CreateSPI(BuiltPlugin(QStringLiteral("tpscripted")));
        if (overran) {
            EXPECT_EQ(spi, nullptr);
        } else if (spi != nullptr) {
            for (const QString& text : spi->Filters() + spi->Descriptions() +
                                           QStringList{spi->APIVersion(), spi->PluginName()})
                EXPECT_LE(text.toUtf8().size(), 255 * 3); // at most 255 bytes, decoded
            EXPECT_EQ(spi->Filters().size(), spi->Descriptions().size());
        }
    }
    SetInfoScript({});
}

} // namespace
} // namespace sorowa::test
