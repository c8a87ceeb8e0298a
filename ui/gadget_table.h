// The gadget table, shared by the free functions and the record protocol of KyGadgetFunctions.
// GUI thread only.
#pragma once

#include "runtime/object_table.h"

// Null before GadgetSystemInit and after GadgetLibraryEnd.
ObjectTable* GadgetTable();
