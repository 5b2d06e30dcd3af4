// libpelmux.so carries the whole library; this file gives the shared object a translation unit
// of its own, as DllMain.cpp does for Pelmux.dll. Loading runs no code of the library's own.
