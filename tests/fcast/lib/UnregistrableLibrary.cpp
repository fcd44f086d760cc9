// A stand-in component whose registration fails and which makes no objects.
extern "C" __attribute__((visibility("default"))) long DllRegisterServer() { return -1; }
