// The name patterns of the media lists: the direct matcher must answer exactly as regexec does.
#include "agent/media/PMMediaLists.h"
#include "agent/media/PMNamePattern.h"

#include <gtest/gtest.h>

namespace {

// Names that probe every shape of pattern the lists use.
const std::vector<QByteArray> kNames = {
    "movie.mp4",
    "movie.MP4",
    "Movie.Mp4",
    "movie.mp4.bak",
    "movie.mp4v",
    "mp4",
    ".mp4",
    "movie.m4v",
    "x.mov",
    "Foo.3g2.bak",
    "Foo.3G2",
    "foo.3gp2",
    "foo.3gpp",
    "foo3g2",
    "a.3g",
    "Library.photolibrary",
    ".photolibrary",
    "photolibrary",
    "x.PHOTOLIBRARY.old",
    "aphotolibrary",
    "book.azw",
    "book.AZW3",
    "book.azw0",
    "book.azw10",
    "book.azw9",
    "book.azwx",
    "",
    ".",
    "..",
    "a\nb.mp4",
    "a.mp4\n",
    "résumé.pdf",
    "фото.JPG",
    "日本語.mkv",
    "x.tiff",
    "x.tif",
    "x.TIF.f",
    "song.m4a",
    "book.m4b",
    "clip.ts",
    "clip.tsx",
    "clip.t",
    "x.doc",
    "x.docx",
    "x.key",
    "notes.txt",
    "a.html",
    "a.htm",
    "tape.3gp",
    "x.wm",
    "x.wmv",
    "readme",
};

TEST(PMNamePattern, directMatchingAgreesWithRegexecForEveryListPattern)
{
    const PMMediaLists &tables = PMMediaLists::shared();
    int direct = 0;
    for (const QString &list : tables.listNames()) {
        for (const auto &validator : tables.list(list)) {
            const PMNamePattern &pattern = validator->pattern();
            direct += pattern.hasDirectMatcher() ? 1 : 0;
            for (const QByteArray &name : kNames)
                EXPECT_EQ(pattern.matches(name), pattern.matchesWithRegex(name))
                    << pattern.pattern().constData() << " on " << name.constData();
        }
    }
    EXPECT_GT(direct, 0);
}

TEST(PMNamePattern, patternsFollowTheirPublishedMeaning)
{
    struct Case {
        const char *pattern;
        const char *name;
        bool matches;
    };
    const Case cases[] = {
        { R"(.*\.mp4$)", "movie.MP4", true },
        { R"(.*\.mp4$)", "movie.mp4.bak", false },
        { R"(.*\.3g2)", "Foo.3g2.bak", true },
        { R"(.*\.3g2$)", "Foo.3g2.bak", false },
        { R"(.photolibrary)", "Trip.photolibrary", true },
        { R"(.photolibrary)", "photolibrary", false },
        { R"(.*\.azw[1-9]?$)", "book.azw", true },
        { R"(.*\.azw[1-9]?$)", "book.azw7", true },
        { R"(.*\.azw[1-9]?$)", "book.azw0", false },
        { R"(.*)", "", true },
    };
    for (const Case &c : cases) {
        PMNamePattern pattern(c.pattern, true);
        EXPECT_EQ(pattern.matches(c.name), c.matches) << c.pattern << " on " << c.name;
        EXPECT_EQ(pattern.matchesWithRegex(c.name), c.matches) << c.pattern << " on " << c.name;
    }
}

TEST(PMNamePattern, caseSensitivePatternsAndOtherShapesStillWork)
{
    PMNamePattern sensitive(R"(.*\.mp4$)", false);
    EXPECT_TRUE(sensitive.matches("a.mp4"));
    EXPECT_FALSE(sensitive.matches("a.MP4"));

    PMNamePattern anchored("^IMG_[0-9]+\\.(jpg|png)$", true);
    EXPECT_FALSE(anchored.hasDirectMatcher());
    EXPECT_TRUE(anchored.matches("img_0042.PNG"));
    EXPECT_FALSE(anchored.matches("xIMG_0042.png"));

    PMNamePattern broken("(unclosed", true);
    EXPECT_FALSE(broken.isValid());
    EXPECT_NE(broken.compileStatus(), 0);
    EXPECT_FALSE(broken.matches("(unclosed"));
}

} // namespace
