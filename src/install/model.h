// The records of a printer model that the dialog, the catalogue and the
// installation run share: a model's display name and GPD file, its driver file
// names and which archive items go where, per architecture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tde {

struct ModelName {
    std::u16string displayName;  // shown in the model combo box; also driver and queue name
    std::u16string dataFile;     // GPD file; archive item "driver\pos\" + dataFile
};

struct PrinterModel {
    // Filled by the installation run in its own copy; empty in the catalogue.
    std::u16string driverName;
    std::u16string queueName;
    std::u16string portName;
    int32_t makeDefault = 0;

    std::u16string configFile;
    std::u16string driverFile;
    std::u16string certificateFile;
    std::u16string infFile;
    std::u16string helpFile;

    // The DriverFileSet: archive items (backslash paths) for the staging folder...
    std::vector<std::u16string> rootItems;
    std::vector<std::u16string> driver32Items;
    std::vector<std::u16string> driver64Items;
    std::vector<std::u16string> ia64Items;
    std::vector<std::u16string> arm64Items;
    std::vector<std::u16string> stagingSubfolders;
    // ...and for the spooler's driver directory, one list per architecture.
    std::vector<std::u16string> x86DriverItems;
    std::vector<std::u16string> x64DriverItems;
    std::vector<std::u16string> ia64DriverItems;
    std::vector<std::u16string> arm64DriverItems;
};

// Two parallel lists: index i of both is model i of the model combo box.
struct ModelCatalogue {
    std::vector<ModelName> modelNames;
    std::vector<PrinterModel> models;
};

}  // namespace tde
