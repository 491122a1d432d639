// The printer models the installer knows, compiled in: for each model its
// driver file names and which archive items go where, per architecture.
#pragma once

#include "install/model.h"

#include <string>
#include <vector>

namespace tde {

// Replaces the catalogue's contents with the three models, in combo box order.
void BuildModelCatalogue(ModelCatalogue& catalogue);

// The archive items the catalogue names, each once, for checks on the payload.
std::vector<std::u16string> CatalogueArchiveItems(const ModelCatalogue& catalogue);

}  // namespace tde
