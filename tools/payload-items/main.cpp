// payload-items OUT.txt: writes the archive items the installer needs, one a
// line (UTF-8, "\" separators): every item the model catalogue names and the
// two language files. The build packs the payload only when all are present.
#include <cstdio>
#include <fstream>

#include "install/catalogue.h"
#include "archive/names.h"
#include "base/utf8.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: payload-items OUT.txt\n", stderr);
        return 2;
    }
    tde::ModelCatalogue catalogue;
    tde::BuildModelCatalogue(catalogue);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    for (const std::u16string& item : tde::CatalogueArchiveItems(catalogue)) {
        out << tde::Utf16ToUtf8(item) << '\n';
    }
    out << "lan_cn.xml\nlan_en.xml\n";
    out.close();
    if (!out) {
        std::fprintf(stderr, "payload-items: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
