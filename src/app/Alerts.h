#pragma once
#include <optional>

#include "win/Vista.h"

namespace app {

// The message filter's calls: those of user32 unless a test puts recorders in their place.
extern std::optional<win::MessageFilterApi> MessageFilterHook;

} // namespace app
