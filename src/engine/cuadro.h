#pragma once
// The frame type is shared by every module; it lives in comun.
#include "comun/cuadro.h"
