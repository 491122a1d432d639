#include "install/catalogue.h"

#include <algorithm>

namespace tde {

namespace {

const std::u16string kPos = u"driver\\pos\\";

// Every model's staging lists carry the modules of all three models, in this order.
const char16_t* const kAllModules[] = {u"ZNWA6UIV.dll",  u"ZNWA6UNIV.dll", u"ZNWA3UIV.dll",
                                       u"ZNWA3UNIV.dll", u"ZNWA4UIV.dll",  u"ZNWA4UNIV.dll"};

std::vector<std::u16string> AllModulesIn(const std::u16string& folder) {
    std::vector<std::u16string> items;
    for (const char16_t* module : kAllModules) {
        items.push_back(kPos + folder + u"\\" + module);
    }
    return items;
}

struct ModelFiles {
    const char16_t* displayName;
    const char16_t* dataFile;
    const char16_t* configFile;
    const char16_t* driverFile;
    const char16_t* helpFile;
};

// The third model is sold as "4In" while its files carry "A6".
const ModelFiles kModels[] = {
    {u"A4 Printer", u"ZNWA4V.gpd", u"ZNWA4UIV.dll", u"ZNWA4UNIV.dll", u"znwa4.hlp"},
    {u"A3 Printer", u"ZNWA3V.gpd", u"ZNWA3UIV.dll", u"ZNWA3UNIV.dll", u"znwa3.hlp"},
    {u"4In Printer", u"ZNWA6V.gpd", u"ZNWA6UIV.dll", u"ZNWA6UNIV.dll", u"znwa6.hlp"},
};

std::vector<std::u16string> OwnModulesIn(const ModelFiles& m, const std::u16string& folder) {
    return {kPos + folder + u"\\" + m.configFile, kPos + folder + u"\\" + m.driverFile,
            kPos + m.helpFile};
}

}  // namespace

void BuildModelCatalogue(ModelCatalogue& catalogue) {
    catalogue.modelNames.clear();
    catalogue.models.clear();
    for (const ModelFiles& m : kModels) {
        catalogue.modelNames.push_back({m.displayName, m.dataFile});
    }
    for (const ModelFiles& m : kModels) {
        PrinterModel model;
        model.configFile = m.configFile;
        model.driverFile = m.driverFile;
        model.certificateFile = u"znw.cer";
        model.infFile = u"ZNWA4V.inf";  // one INF serves all three models
        model.helpFile = m.helpFile;
        model.rootItems = {kPos + u"ZNWA4V.inf", kPos + m.dataFile, kPos + m.helpFile,
                           kPos + u"znwdovezuvar.cat", kPos + u"znw.cer"};
        model.driver32Items = AllModulesIn(u"Driver32");
        model.driver64Items = AllModulesIn(u"Driver64");
        model.ia64Items = AllModulesIn(u"IA64");
        // No ARM64 modules exist, yet the folder is still staged.
        model.stagingSubfolders = {u"IA64", u"Driver64", u"Driver32", u"ARM64"};
        model.x86DriverItems = OwnModulesIn(m, u"Driver32");
        model.x64DriverItems = OwnModulesIn(m, u"Driver64");
        model.ia64DriverItems = OwnModulesIn(m, u"IA64");
        catalogue.models.push_back(std::move(model));
    }
}

std::vector<std::u16string> CatalogueArchiveItems(const ModelCatalogue& catalogue) {
    std::vector<std::u16string> items;
    auto add = [&items](const std::vector<std::u16string>& list) {
        items.insert(items.end(), list.begin(), list.end());
    };
    for (const PrinterModel& m : catalogue.models) {
        add(m.rootItems);
        add(m.driver32Items);
        add(m.driver64Items);
        add(m.ia64Items);
        add(m.arm64Items);
        add(m.x86DriverItems);
        add(m.x64DriverItems);
        add(m.ia64DriverItems);
        add(m.arm64DriverItems);
    }
    for (const ModelName& n : catalogue.modelNames) {
        items.push_back(kPos + n.dataFile);
    }
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    return items;
}

}  // namespace tde
