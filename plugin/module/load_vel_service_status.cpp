// The plug-in library's only export. The host calls it once, right after
// loading the library, with the descriptor of its plug-in API.

extern "C" __attribute__((visibility("default"))) void load_vel_service_status(void* descriptor) {
    (void)descriptor;
}
