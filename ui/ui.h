// Everything the application calls of the desktop interface layer.
#pragma once

#include "ui/application.h"
#include "ui/event_queue.h"
#include "ui/gadget_kinds.h"
#include "ui/gadgets.h"
#include "ui/menus.h"
#include "ui/message_box.h"
#include "ui/platform_interface.h"
#include "ui/windows.h"
