// Names of printable ASCII are put in order without the collator where the
// locale keeps the root order. That order must be the collator's own, or a
// list would reorder itself the moment one accented name joined it.

#include <gtest/gtest.h>
#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bridge/decode.h"

namespace lumora {
namespace {

std::unique_ptr<icu::Collator> collator(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> c(
        icu::Collator::createInstance(icu::Locale::createCanonical(locale), status));
    if (U_FAILURE(status) || !c) return nullptr;
    c->setStrength(icu::Collator::SECONDARY);
    return c;
}

bool icuLess(const icu::Collator& c, const std::string& a, const std::string& b) {
    UErrorCode status = U_ZERO_ERROR;
    return c.compareUTF8(a, b, status) == UCOL_LESS;
}

constexpr const char* kRootOrderLocales[] = {"", "en", "en_US", "en_GB"};

TEST(CollationTest, PrintableNamesSortAsTheCollatorSortsThem) {
    std::mt19937 random(20261207);
    // Mostly letters, digits and spaces, as names are; every other printable
    // character now and then.
    const std::string common = "aAbBeEkKlLoOrRzZ 019-";
    auto character = [&] {
        if (random() % 4 == 0) return static_cast<char>(0x20 + random() % 95);
        return common[random() % common.size()];
    };
    auto word = [&] {
        std::string w;
        for (std::size_t n = random() % 10; n > 0; --n) w += character();
        return w;
    };
    for (const char* locale : kRootOrderLocales) {
        const auto c = collator(locale);
        ASSERT_TRUE(c) << locale;
        auto agree = [&](const std::string& a, const std::string& b) {
            ASSERT_EQ(collatedLess(a, b, locale), icuLess(*c, a, b))
                << "'" << a << "' against '" << b << "' in \"" << locale << "\"";
        };
        // Every pair of single characters.
        for (char x = 0x20; x < 0x7f; ++x)
            for (char y = 0x20; y < 0x7f; ++y) agree(std::string(1, x), std::string(1, y));
        for (int i = 0; i < 5000; ++i) {
            // Half of the pairs share all but one character, or one is a
            // prefix of the other: the cases a rank table gets wrong first.
            const std::string a = word();
            std::string b = a;
            switch (random() % 4) {
                case 0:
                    if (!b.empty()) b[random() % b.size()] = character();
                    break;
                case 1:
                    b += character();
                    break;
                default:
                    b = word();
            }
            agree(a, b);
            agree(b, a);
        }
    }
}

TEST(CollationTest, OtherNamesAndLocalesKeepTheCollatorsOrder) {
    auto sorted = [](std::vector<std::string> names, const std::string& locale) {
        std::stable_sort(names.begin(), names.end(),
                         [&](const auto& a, const auto& b) { return collatedLess(a, b, locale); });
        return names;
    };
    // Cyrillic: case does not put "Ванная" before "балкон".
    EXPECT_EQ(sorted({"Ванная", "балкон", "Гостиная", "кухня"}, "ru_RU"),
              (std::vector<std::string>{"балкон", "Ванная", "Гостиная", "кухня"}));
    // Greek, with a final sigma and an accent.
    EXPECT_EQ(sorted({"Σαλόνι", "κουζίνα", "Αίθριο", "βεράντα"}, "el_GR"),
              (std::vector<std::string>{"Αίθριο", "βεράντα", "κουζίνα", "Σαλόνι"}));
    // German: ä with a; Swedish: å after z.
    EXPECT_EQ(sorted({"Zimmer", "Ärbeitszimmer", "Bad", "arbeit"}, "de_DE"),
              (std::vector<std::string>{"arbeit", "Ärbeitszimmer", "Bad", "Zimmer"}));
    EXPECT_EQ(sorted({"Åkern", "Zenit", "Ankan"}, "sv_SE"),
              (std::vector<std::string>{"Ankan", "Zenit", "Åkern"}));
    // Elsewhere å is an a: "Åkern" before "Ankan" (k before n).
    EXPECT_EQ(sorted({"Zenit", "Ankan", "Åkern"}, "de_DE"),
              (std::vector<std::string>{"Åkern", "Ankan", "Zenit"}));
    // Ö after O, before P.
    EXPECT_EQ(sorted({"Pantry", "\xc3\x96ga", "Office"}, ""),
              (std::vector<std::string>{"Office", "\xc3\x96ga", "Pantry"}));
    EXPECT_TRUE(collatedLess("\xC3\x84rger", "Zebra", "")) << "Ä with A, not after Z";
    EXPECT_TRUE(collatedLess("Tab\there", "Tab here", "")) << "a tab before a space";
    EXPECT_TRUE(collatedLess("Zebra", "Aase", "da_DK")) << "Danish aa after z";
    EXPECT_TRUE(collatedLess("hrad", "chata", "cs_CZ")) << "Czech ch after h";
    EXPECT_TRUE(collatedLess("B", "a", "en_US_POSIX")) << "the POSIX order, capitals first";
    // Case alone is no difference in the user's locale either.
    EXPECT_FALSE(localizedCaseInsensitiveLess("kitchen", "Kitchen"));
    EXPECT_FALSE(localizedCaseInsensitiveLess("Kitchen", "kitchen"));
}

}  // namespace
}  // namespace lumora
