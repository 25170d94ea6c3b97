#include "picture/bitmap.h"
#include "picture/icon.h"
#include "picture/metafile.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace sorowa;

namespace {

// A picture that reports a change while it loads and fails on "bad" content.
class FakeGraphic : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }
    void Draw(TCanvas&, const QRect&) override {}
    bool Empty() const override { return false; }
    int Width() const override { return 7; }
    int Height() const override { return 3; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void LoadFromStream(TStream& stream) override {
        NotifyChange();
        if (stream.ReadRemaining() == std::vector<std::uint8_t>{'b', 'a', 'd'})
            throw EInvalidGraphic("bad fake");
    }
};
const TGraphicClass FakeGraphic::Class{"FakeGraphic", nullptr,
                                       [] { return std::unique_ptr<TGraphic>(new FakeGraphic); }};

class DerivedFake : public FakeGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }
};
const TGraphicClass DerivedFake::Class{"DerivedFake", &FakeGraphic::Class,
                                       [] { return std::unique_ptr<TGraphic>(new DerivedFake); }};

QString LoadError(TPicture& picture, const QString& path) {
    try {
        picture.LoadFile(path);
    } catch (const Exception& error) {
        return error.Message();
    }
    return {};
}

} // namespace

TEST(Registry, BuiltInBitmapAndCaseInsensitiveLookup) {
    EXPECT_EQ(FindPictureClass("bmp"), &TBitmap::Class);
    EXPECT_EQ(FindPictureClass("BMP"), &TBitmap::Class);
    EXPECT_EQ(FindPictureClass("Bmp"), &TBitmap::Class);
    EXPECT_EQ(FindPictureClass("txt"), nullptr);
    EXPECT_EQ(FindPictureClass(""), nullptr);
}

TEST(Registry, BuiltInEntriesComeInTheirOrder) {
    const std::vector<TFileFormat> formats = PictureFormats();
    ASSERT_GE(formats.size(), 4u);
    const std::pair<QString, QString> expected[] = {{"wmf", "メタファイル"},
                                                    {"emf", "エンハンス メタファイル"},
                                                    {"ico", "アイコン"},
                                                    {"bmp", "ビットマップ"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(formats[i].extension, expected[i].first);
        EXPECT_EQ(formats[i].description, expected[i].second);
    }
    EXPECT_EQ(FindPictureClass("WMF"), &TMetafile::Class);
    EXPECT_EQ(FindPictureClass("emf"), &TMetafile::Class);
    EXPECT_EQ(FindPictureClass("Ico"), &TIcon::Class);
}

TEST(Registry, LaterRegistrationWinsAndUnregisterTakesDerivedClassesToo) {
    RegisterPictureFormat("FAKE", "fake", FakeGraphic::Class);
    RegisterPictureFormat("bmp", "fake bitmap", DerivedFake::Class);
    EXPECT_EQ(PictureFormats().back().extension, "bmp");
    EXPECT_EQ(PictureFormats()[PictureFormats().size() - 2].extension, "fake"); // lower-cased
    EXPECT_EQ(FindPictureClass("fake"), &FakeGraphic::Class);
    EXPECT_EQ(FindPictureClass("BMP"), &DerivedFake::Class);
    UnregisterPictureClass(FakeGraphic::Class);
    EXPECT_EQ(FindPictureClass("fake"), nullptr);
    EXPECT_EQ(FindPictureClass("bmp"), &TBitmap::Class);
}

TEST(Registry, ExtensionIsTheTextAfterTheLastDotOfTheName) {
    EXPECT_EQ(PictureExtension("readme"), "");
    EXPECT_EQ(PictureExtension("a.b/c"), "");
    EXPECT_EQ(PictureExtension("/pics/my.trip.JPEG"), "JPEG");
    EXPECT_EQ(PictureExtension("/pics/photo."), "");
    EXPECT_EQ(PictureExtension("/pic;s/a;b.gif"), "gif");
}

TEST(Picture, UnknownExtensionMessageKeepsTheCaseOfThePath) {
    TPicture picture;
    EXPECT_EQ(LoadError(picture, "readme"), "拡張子 . の画像形式は処理できません");
    EXPECT_EQ(LoadError(picture, "a.txt"), "拡張子 .txt の画像形式は処理できません");
    EXPECT_EQ(LoadError(picture, "/x/A.TXT"), "拡張子 .TXT の画像形式は処理できません");
    EXPECT_EQ(picture.Graphic(), nullptr);
}

TEST(Picture, MissingFileCannotBeOpened) {
    test::TempFolder folder;
    TPicture picture;
    EXPECT_EQ(LoadError(picture, folder.File("none.bmp")),
              "ファイル " + folder.File("none.bmp") + " は開けません");
}

TEST(Picture, FailedLoadKeepsThePreviousGraphic) {
    test::TempFolder folder;
    TPicture picture;
    int changes = 0;
    picture.SetOnChange([&] { ++changes; });
    picture.LoadFile(folder.Write("good.bmp", test::MakeBmp(4, 2)));
    TGraphic* previous = picture.Graphic();
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(picture.Width(), 4);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(
        LoadError(picture, folder.Write("bad.bmp", QByteArray("XM not a bitmap"))).isEmpty());
    EXPECT_FALSE(LoadError(picture, folder.File("missing.bmp")).isEmpty());
    EXPECT_FALSE(LoadError(picture, folder.File("x.unknown")).isEmpty());
    EXPECT_EQ(picture.Graphic(), previous);
    EXPECT_EQ(changes, 1);
}

TEST(Picture, ChangesDuringTheLoadDoNotReachTheOwner) {
    RegisterPictureFormat("fake", "fake", FakeGraphic::Class);
    test::TempFolder folder;
    TPicture picture;
    int changes = 0;
    picture.SetOnChange([&] { ++changes; });
    picture.LoadFile(folder.Write("a.FAKE", QByteArray("ok")));
    EXPECT_EQ(changes, 1); // the notification after the load, not the one inside it
    EXPECT_EQ(&picture.Graphic()->ClassType(), &FakeGraphic::Class);
    EXPECT_EQ(picture.Width(), 7);
    picture.Graphic()->NotifyChange();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(LoadError(picture, folder.Write("b.fake", QByteArray("bad"))), "bad fake");
    EXPECT_EQ(changes, 2);
    UnregisterPictureClass(FakeGraphic::Class);
}
