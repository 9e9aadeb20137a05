// The one letter-case fold: capitals of the scripts the norm bases use made small, ё kept for
// names and read as е for searching, everything else as it is.
#include "common/TextFold.h"

#include <gtest/gtest.h>

namespace talvira {
namespace {

TEST(TextFold, LowerCaseAndYo) {
    struct Case {
        const char* in;
        const char* out;
        Yo yo;
    };
    for (const Case c : {Case{"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдеежзийклмнопрстуфхцчшщъыьэюя", Yo::AsE},
                         Case{"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "абвгдеежзийклмнопрстуфхцчшщъыьэюя", Yo::AsE},
                         Case{"ЁЛКА ёлка", "ёлка ёлка", Yo::Kept}, Case{"RABMAT.DB Смета.DB", "rabmat.db смета.db", Yo::Kept},
                         Case{"ABC xyz 09-01", "abc xyz 09-01", Yo::AsE}, Case{"ЄІЇЎ", "єіїў", Yo::AsE},
                         Case{"ÀÉÖ", "àéö", Yo::AsE}, Case{"ΑΩ", "αω", Yo::AsE}, Case{"№ «» € ✓", "№ «» € ✓", Yo::AsE},
                         Case{"\xD0", "\xD0", Yo::AsE}, Case{"\xD0\x41", "\xD0" "a", Yo::Kept}}) {
        EXPECT_EQ(foldCase(c.in, c.yo), c.out) << c.in;
    }
    EXPECT_TRUE(equalFolded("Workbook", "WORKBOOK"));
    EXPECT_FALSE(equalFolded("ёлка", "елка")) << "names keep ё";
}

}  // namespace
}  // namespace talvira
