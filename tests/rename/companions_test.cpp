// Which files of a folder belong to which picture, and the names they get with it.
#include "rename/companions.h"

#include <gtest/gtest.h>

using namespace sorowa;

namespace {

TEST(Companions, BelongToThePictureWhoseNameTheyShareAndFollowItsNewName) {
    const QStringList pictures{"IMG_0001.JPG", "IMG_0002.jpg", "IMG_0003.jpg", "IMG_1.JPG",
                               "IMG_1.PNG",    "a.b.gif",      "noext"};
    const QStringList others{
        "IMG_0001.xmp",  "IMG_0001.CR2", "img_0002.aae", "IMG_0002.MOV", "IMG_0003.JPG.xmp",
        "IMG_1.xmp",              // claimed by two pictures alike: left alone
        "IMG_1.JPG.xmp",          // the whole name of one picture
        "IMG_00011.xmp",          // no "." after a name
        "IMG_0004.xmp",           // no picture
        "a.b.xmp",       "a.xmp", // stems with dots: "a.b" is a stem, "a" is none
        "noext.txt",     "notes.txt"};
    const std::vector<std::vector<QString>> expected{{"IMG_0001.xmp", "IMG_0001.CR2"},
                                                     {"img_0002.aae", "IMG_0002.MOV"},
                                                     {"IMG_0003.JPG.xmp"},
                                                     {"IMG_1.JPG.xmp"},
                                                     {},
                                                     {"a.b.xmp"},
                                                     {"noext.txt"}};
    const QStringList newNames{"trip02.JPG", "trip03.jpg", "trip01.jpg", "t1.JPG",
                               "t2.PNG",     "c.gif",      "x"};
    const std::vector<std::vector<QString>> renamed{{"trip02.xmp", "trip02.CR2"},
                                                    {"trip03.aae", "trip03.MOV"},
                                                    {"trip01.jpg.xmp"},
                                                    {"t1.JPG.xmp"},
                                                    {},
                                                    {"c.xmp"},
                                                    {"x.txt"}};
    const auto found = FindCompanions(pictures, others);
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(pictures[int(i)].toStdString());
        std::vector<QString> names, newOnes;
        for (const TCompanion& companion : found[i]) {
            names.push_back(companion.name);
            newOnes.push_back(CompanionNewName(pictures[int(i)], companion, newNames[int(i)]));
        }
        EXPECT_EQ(names, expected[i]);
        EXPECT_EQ(newOnes, renamed[i]);
    }
}

} // namespace
