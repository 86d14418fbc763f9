#pragma once
// The component layer over Win32, one header per control family.
#include "ui/Buttons.h"
#include "ui/Component.h"
#include "ui/Containers.h"
#include "ui/Edits.h"
#include "ui/Form.h"
#include "ui/Labels.h"
#include "ui/ListView.h"
#include "ui/Menus.h"
