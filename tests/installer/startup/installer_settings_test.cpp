// The settings object fixes the product before anything is named from it.
#include "installer/startup/installer_settings.hpp"

#include <gtest/gtest.h>

#include "foundation/app/identity.hpp"

TEST(installer_settings, building_the_settings_names_the_product) {
    installer_settings::instance();
    EXPECT_EQ(vd::product_code, 0x308u);
    EXPECT_EQ(vd::product_display_name(vd::product_code), L"Stelvane 8");
}
