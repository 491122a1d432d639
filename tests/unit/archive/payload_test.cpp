// The archive the build packs for the exe: the 52 items the installer's
// archive holds, each readable with the program's password, equal to the
// payload's files, and everything the catalogue names.
#include <algorithm>

#include <gtest/gtest.h>

#include "install/catalogue.h"
#include "archive/archive.h"
#include "archive/names.h"
#include "support/archive_test_util.h"
#include "base/utf8.h"
#include "process_util.h"

namespace tde {
namespace {

using namespace testing_util;

std::vector<std::string> ExpectedNames() {
    std::vector<std::string> names;
    for (const char* f : {"STDDTYPE.GDL", "STDNAMES.GPD", "STDSCHEM.GDL", "STDSCHMX.GDL",
                          "UNIDRV.DLL", "UNIDRV.HLP", "UNIDRVUI.DLL", "UNIRES.DLL"}) {
        names.push_back(std::string("driver/common/ARM64/") + f);
    }
    for (const char* arch : {"Driver32", "Driver64", "IA64"}) {
        for (const char* f :
             {"STDNAMES.GPD", "UNIDRV.dll", "UNIDRV.HLP", "UNIDRVUI.dll", "UNIRES.dll"}) {
            names.push_back(std::string("driver/common/") + arch + "/" + f);
        }
        for (const char* f : {"ZNWA3UIV.dll", "ZNWA3UNIV.dll", "ZNWA4UIV.dll", "ZNWA4UNIV.dll",
                              "ZNWA6UIV.dll", "ZNWA6UNIV.dll"}) {
            names.push_back(std::string("driver/pos/") + arch + "/" + f);
        }
    }
    for (const char* f : {"znw.cer", "znwa3.hlp", "ZNWA3V.gpd", "znwa4.hlp", "ZNWA4V.gpd",
                          "ZNWA4V.inf", "znwa6.hlp", "ZNWA6V.gpd", "znwdovezuvar.cat"}) {
        names.push_back(std::string("driver/pos/") + f);
    }
    names.push_back("lan_cn.xml");
    names.push_back("lan_en.xml");
    return names;
}

class PayloadArchiveTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::string image = ReadText(TDE_PAYLOAD_ARCHIVE);
        ASSERT_FALSE(image.empty());
        bytes.assign(image.begin(), image.end());
    }
    std::vector<uint8_t> bytes;
};

TEST_F(PayloadArchiveTest, HoldsThe52ItemsReadableWithTheProgramsPassword) {
    OpenArchive archive(bytes, "kdw20190304");
    ASSERT_EQ(archive.status, ArchiveStatus::Ok);
    std::vector<std::string> stored;
    for (uint32_t i = 0; i < ItemCount(archive.reader); ++i) {
        std::string name;
        ASSERT_EQ(StoredItemName(archive.reader, static_cast<int32_t>(i), name), ArchiveStatus::Ok);
        stored.push_back(name);
    }
    std::vector<std::string> expected = ExpectedNames();
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected);  // sorted as packed
    EXPECT_EQ(stored.size(), 52u);
    for (const std::string& name : stored) {
        std::vector<uint8_t> data;
        ASSERT_EQ(archive.ReadItem(Utf8ToUtf16(name), data), ArchiveStatus::Ok) << name;
        EXPECT_LE(data.size(), MaxResourceFileSize) << name;
        EXPECT_FALSE(data.empty()) << name;
        const std::string file = ReadText(std::filesystem::path(TDE_PAYLOAD_DIR) / name);
        EXPECT_EQ(std::string(data.begin(), data.end()), file) << name;
    }
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"res.xml", data), ArchiveStatus::NotFound);
}

TEST_F(PayloadArchiveTest, HoldsEveryItemTheCatalogueNames) {
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    OpenArchive archive(bytes, "kdw20190304");
    for (const std::u16string& item : CatalogueArchiveItems(catalogue)) {
        int32_t index = -1;
        EXPECT_EQ(FindItem(archive.reader, ToItemName(item), true, index, nullptr),
                  ArchiveStatus::Ok)
            << Utf16ToUtf8(item);
    }
}

TEST_F(PayloadArchiveTest, InfoZipAgreesItIsSound) {
    TempFolder dir("payload");
    const RunResult r =
        RunCommand("unzip -t -P kdw20190304 " + Quote(TDE_PAYLOAD_ARCHIVE), dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST_F(PayloadArchiveTest, TheDriverFilesAreWhatTheyClaim) {
    OpenArchive archive(bytes, "kdw20190304");
    std::vector<uint8_t> data;
    ASSERT_EQ(archive.ReadItem(u"driver/pos/ZNWA4V.inf", data), ArchiveStatus::Ok);
    const std::string inf(data.begin(), data.end());
    EXPECT_NE(inf.find("Signature=\"$Windows NT$\""), std::string::npos);
    EXPECT_NE(inf.find("Class=Printer"), std::string::npos);
    EXPECT_NE(inf.find("Needs=UNIDRV.OEM"), std::string::npos);
    EXPECT_NE(inf.find("ZNW=\"ZNW\""), std::string::npos);
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    for (const ModelName& model : catalogue.modelNames) {
        const std::string quoted = "\"" + Utf16ToUtf8(model.displayName) + "\"";
        EXPECT_NE(inf.find(quoted), std::string::npos) << quoted;
        const std::u16string gpd = u"driver/pos/" + model.dataFile;
        ASSERT_EQ(archive.ReadItem(gpd, data), ArchiveStatus::Ok);
        const std::string text(data.begin(), data.end());
        EXPECT_EQ(text.rfind("*%", 0), 0u) << Utf16ToUtf8(gpd);  // a GPD comment first
        EXPECT_NE(text.find("\n*GPDSpecVersion: \"1.0\""), std::string::npos);
        EXPECT_NE(text.find("*Include: \"STDNAMES.GPD\""), std::string::npos);
    }
    // A DER certificate: an ASN.1 SEQUENCE with a two-byte length.
    ASSERT_EQ(archive.ReadItem(u"driver/pos/znw.cer", data), ArchiveStatus::Ok);
    ASSERT_GT(data.size(), 4u);
    EXPECT_EQ(data[0], 0x30);
    EXPECT_EQ(data[1], 0x82);
    EXPECT_EQ(static_cast<size_t>((data[2] << 8) | data[3]) + 4, data.size());
    // The 32-bit configuration modules are Windows DLLs; the other stand-ins say so.
    ASSERT_EQ(archive.ReadItem(u"driver/pos/Driver32/ZNWA4UIV.dll", data), ArchiveStatus::Ok);
    EXPECT_EQ(data[0], 'M');
    EXPECT_EQ(data[1], 'Z');
    ASSERT_EQ(archive.ReadItem(u"driver/pos/Driver64/ZNWA4UIV.dll", data), ArchiveStatus::Ok);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 8), "STAND-IN");
}

}  // namespace
}  // namespace tde
