// The compiled-in model catalogue, checked against the vendor's file lists.
#include "install/catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>

using testing::ElementsAre;
using testing::IsEmpty;

namespace tde {
namespace {

class CatalogueTest : public testing::Test {
  protected:
    void SetUp() override { BuildModelCatalogue(catalogue); }
    ModelCatalogue catalogue;
};

TEST_F(CatalogueTest, ListsThreeModelsInComboOrderWithTheirDataFiles) {
    ASSERT_EQ(catalogue.modelNames.size(), 3u);
    ASSERT_EQ(catalogue.models.size(), 3u);
    EXPECT_EQ(catalogue.modelNames[0].displayName, u"A4 Printer");
    EXPECT_EQ(catalogue.modelNames[0].dataFile, u"ZNWA4V.gpd");
    EXPECT_EQ(catalogue.modelNames[1].displayName, u"A3 Printer");
    EXPECT_EQ(catalogue.modelNames[1].dataFile, u"ZNWA3V.gpd");
    // Sold as "4In", files named "A6".
    EXPECT_EQ(catalogue.modelNames[2].displayName, u"4In Printer");
    EXPECT_EQ(catalogue.modelNames[2].dataFile, u"ZNWA6V.gpd");
}

TEST_F(CatalogueTest, SingleFileFieldsPerModel) {
    const char16_t* config[] = {u"ZNWA4UIV.dll", u"ZNWA3UIV.dll", u"ZNWA6UIV.dll"};
    const char16_t* driver[] = {u"ZNWA4UNIV.dll", u"ZNWA3UNIV.dll", u"ZNWA6UNIV.dll"};
    const char16_t* help[] = {u"znwa4.hlp", u"znwa3.hlp", u"znwa6.hlp"};
    ASSERT_EQ(catalogue.models.size(), std::size(config));
    for (size_t i = 0; i < catalogue.models.size(); ++i) {
        const PrinterModel& m = catalogue.models[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(m.configFile, config[i]);
        EXPECT_EQ(m.driverFile, driver[i]);
        EXPECT_EQ(m.helpFile, help[i]);
        EXPECT_EQ(m.certificateFile, u"znw.cer");
        EXPECT_EQ(m.infFile, u"ZNWA4V.inf");  // shared by all three
        // Filled only by an installation run.
        EXPECT_THAT(m.driverName, IsEmpty());
        EXPECT_THAT(m.queueName, IsEmpty());
        EXPECT_THAT(m.portName, IsEmpty());
        EXPECT_EQ(m.makeDefault, 0);
    }
}

TEST_F(CatalogueTest, StagingListsOfTheThirdModel) {
    const PrinterModel& m = catalogue.models[2];
    EXPECT_THAT(m.rootItems,
                ElementsAre(u"driver\\pos\\ZNWA4V.inf", u"driver\\pos\\ZNWA6V.gpd",
                            u"driver\\pos\\znwa6.hlp", u"driver\\pos\\znwdovezuvar.cat",
                            u"driver\\pos\\znw.cer"));
    EXPECT_THAT(
        m.driver32Items,
        ElementsAre(u"driver\\pos\\Driver32\\ZNWA6UIV.dll", u"driver\\pos\\Driver32\\ZNWA6UNIV.dll",
                    u"driver\\pos\\Driver32\\ZNWA3UIV.dll", u"driver\\pos\\Driver32\\ZNWA3UNIV.dll",
                    u"driver\\pos\\Driver32\\ZNWA4UIV.dll",
                    u"driver\\pos\\Driver32\\ZNWA4UNIV.dll"));
    EXPECT_EQ(m.driver64Items[3], u"driver\\pos\\Driver64\\ZNWA3UNIV.dll");
    EXPECT_EQ(m.ia64Items[5], u"driver\\pos\\IA64\\ZNWA4UNIV.dll");
}

TEST_F(CatalogueTest, DriverDirectoryListsHoldTheModelsOwnModulesThenHelp) {
    const PrinterModel& a4 = catalogue.models[0];
    EXPECT_THAT(a4.x86DriverItems,
                ElementsAre(u"driver\\pos\\Driver32\\ZNWA4UIV.dll",
                            u"driver\\pos\\Driver32\\ZNWA4UNIV.dll", u"driver\\pos\\znwa4.hlp"));
    EXPECT_THAT(a4.x64DriverItems,
                ElementsAre(u"driver\\pos\\Driver64\\ZNWA4UIV.dll",
                            u"driver\\pos\\Driver64\\ZNWA4UNIV.dll", u"driver\\pos\\znwa4.hlp"));
    const PrinterModel& a3 = catalogue.models[1];
    EXPECT_THAT(a3.ia64DriverItems,
                ElementsAre(u"driver\\pos\\IA64\\ZNWA3UIV.dll", u"driver\\pos\\IA64\\ZNWA3UNIV.dll",
                            u"driver\\pos\\znwa3.hlp"));
}

TEST_F(CatalogueTest, NoArm64FilesButTheArm64FolderIsStaged) {
    for (const PrinterModel& m : catalogue.models) {
        EXPECT_THAT(m.arm64Items, IsEmpty());
        EXPECT_THAT(m.arm64DriverItems, IsEmpty());
        EXPECT_THAT(m.stagingSubfolders, ElementsAre(u"IA64", u"Driver64", u"Driver32", u"ARM64"));
    }
}

TEST_F(CatalogueTest, ChangingACopyLeavesTheCatalogueAlone) {
    PrinterModel copy = catalogue.models[0];
    copy.driverName = u"A4 Printer";
    copy.portName = u"USB001";
    copy.makeDefault = 1;
    copy.x64DriverItems.clear();
    EXPECT_THAT(catalogue.models[0].driverName, IsEmpty());
    EXPECT_THAT(catalogue.models[0].portName, IsEmpty());
    EXPECT_EQ(catalogue.models[0].makeDefault, 0);
    EXPECT_EQ(catalogue.models[0].x64DriverItems.size(), 3u);
}

TEST_F(CatalogueTest, RebuildingReplacesRatherThanAppends) {
    const size_t built = catalogue.models.size();
    BuildModelCatalogue(catalogue);
    EXPECT_EQ(catalogue.modelNames.size(), built);
    EXPECT_EQ(catalogue.models.size(), built);
}

TEST_F(CatalogueTest, NamesTheModelFilesOfThreeArchitecturesAndTheRootFiles) {
    // Per model 6 modules, a GPD and a help file; the INF, catalog and certificate once.
    std::vector<std::u16string> items = CatalogueArchiveItems(catalogue);
    EXPECT_EQ(items.size(), 8 * catalogue.models.size() + 3);
    for (const auto& item : items) {
        EXPECT_EQ(item.rfind(u"driver\\pos\\", 0), 0u);
    }
}

}  // namespace
}  // namespace tde
