// libqeldll32.so carries the whole helper library; its load and unload need
// no work of their own, so there is nothing here but the library's one
// object file outside the archive.
namespace zimo::labhelper {
extern const char kLibraryName[] = "qeldll32";
}  // namespace zimo::labhelper
