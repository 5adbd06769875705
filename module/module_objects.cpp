// The library's global objects, in one translation unit so that they are constructed in this
// order: the module object, the control's factory, the page's factory. Each factory goes to the
// head of the list, so the list holds the page's factory first.
#include "module/app.h"
#include "module/class_factories.h"

CQelVantorixActiveXApp theApp;

namespace {

CQelVantorixActiveXCtrlFactory g_ctrl_factory;
CQelVantorixActiveXPropPageFactory g_prop_page_factory;

}  // namespace
