#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "ui/DevicesPresent.h"

TEST(DevicesPresent, ListsStableNamesThenAdaptersThenTheTestLineButNeverBuiltInPorts) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::filesystem::path base = root.path().toStdString();
  std::filesystem::create_directories(base / "dev/serial/by-id");
  std::filesystem::create_directories(base / "tmp/korvex");
  for (const char* name : {"dev/ttyS0", "dev/ttyS1", "dev/ttyUSB1", "dev/ttyUSB0", "dev/ttyACM0",
                           "dev/tty", "dev/serial/by-id/usb-FTDI-if00", "tmp/korvex/ttyA",
                           "tmp/korvex/ttyB"}) {
    std::ofstream(base / name) << "";
  }
  EXPECT_EQ(SerialDevicesPresent(base.string()),
            (std::vector<std::string>{"/dev/serial/by-id/usb-FTDI-if00", "/dev/ttyUSB0",
                                      "/dev/ttyUSB1", "/dev/ttyACM0", "/tmp/korvex/ttyA"}));
  std::filesystem::remove(base / "tmp/korvex/ttyA");
  EXPECT_EQ(SerialDevicesPresent(base.string()).size(), 4u);
}
