// Adds the MPEG video and audio decoder filters to a registry, under their class ids, with
// the input types they take. Called once by whoever builds the application's registry.
#pragma once

#include "graph/FilterRegistry.h"

void RegisterDecoders(FilterRegistry& registry);
