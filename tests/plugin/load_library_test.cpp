#include <dlfcn.h>

#include <gtest/gtest.h>

namespace {

TEST(LoadLibrary, ExportIsFoundByName) {
    void* library = dlopen(KORVEL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "load_vel_service_status"), nullptr);
    EXPECT_EQ(dlclose(library), 0);
}

} // namespace
