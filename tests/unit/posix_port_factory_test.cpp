// The Linux port factory against a fake sysfs tree laid out like the kernel's:
// class/tty entries link into devices/, whose USB devices and interfaces name
// bus/usb as their subsystem.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "PosixPortFactory.h"
#include "RunProgram.h"

namespace fs = std::filesystem;

namespace
{
const char kUsbInterface[] = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
const char kPlatformUart[] = "platform/serial8250/serial8250:0";

class FakeSysfs
{
public:
    FakeSysfs()
    {
        fs::create_directories(sys() + "/class/tty");
        fs::create_directories(sys() + "/bus/usb");
        fs::create_directories(sys() + "/bus/platform");
        fs::create_directories(dev());
        device("pci0000:00/0000:00:14.0/usb1", "usb");
        device("pci0000:00/0000:00:14.0/usb1/1-2", "usb");
        device(kUsbInterface, "usb");
        device("platform/serial8250", "platform");
    }

    std::string sys() const { return _dir.path() + "/sys"; }
    std::string dev() const { return _dir.path() + "/dev"; }

    void device(const std::string& rel, const std::string& subsystem)
    {
        std::string dir = sys() + "/devices/" + rel;
        fs::create_directories(dir);
        fs::create_symlink(sys() + "/bus/" + subsystem, dir + "/subsystem");
    }

    // A tty entry whose device is `parent` under devices/ (none for a virtual
    // terminal); `uartType` >= 0 writes the serial-core type attribute.
    void tty(const std::string& name, const std::string& parent, int uartType = -1)
    {
        std::string dir;
        if (parent.empty())
            dir = sys() + "/devices/virtual/tty/" + name;
        else
            dir = sys() + "/devices/" + parent + "/tty/" + name;
        fs::create_directories(dir);
        if (!parent.empty())
            fs::create_symlink(sys() + "/devices/" + parent, dir + "/device");
        if (uartType >= 0)
            writeFile(dir + "/type", std::to_string(uartType) + "\n");
        fs::create_symlink(dir, sys() + "/class/tty/" + name);
    }

private:
    TempDir _dir;
};

std::vector<std::string> listing(PosixPortFactory& factory)
{
    std::vector<std::string> names;
    for (std::string name = factory.begin(); name != factory.end(); name = factory.next())
    {
        names.push_back(name);
        if (names.size() > 100)
            break; // a factory that never ends must fail, not hang
    }
    return names;
}

TEST(PosixPortFactoryTest, Listing_AdapterLinksFirstNaturalOrderPlaceholdersSkipped)
{
    FakeSysfs sys;
    sys.tty("ttyS10", kPlatformUart, 4);
    sys.tty("ttyS2", kPlatformUart, 4);
    sys.tty("ttyS1", kPlatformUart, 0); // registered, no UART behind it
    sys.tty("ttyUSB1", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB1");
    sys.tty("ttyACM10", kUsbInterface);
    sys.tty("ttyACM2", kUsbInterface);
    sys.tty("ttyAMA0", "platform/fe201000.serial", 83);
    sys.tty("tty0", "");
    sys.tty("ptmx", "");
    sys.tty("console", "");

    PosixPortFactory factory(sys.sys(), sys.dev());
    const std::vector<std::string> expected = {"ttyACM2", "ttyACM10", "ttyUSB1",
                                               "ttyAMA0", "ttyS2",    "ttyS10"};
    EXPECT_EQ(listing(factory), expected);
    EXPECT_EQ(factory.next(), factory.end()) << "stays at the end";
    EXPECT_EQ(factory.next(), "");

    sys.tty("ttyACM0", kUsbInterface); // plugged in meanwhile
    EXPECT_EQ(factory.begin(), "ttyACM0") << "begin restarts from a fresh listing";
    EXPECT_EQ(factory.next(), "ttyACM2");
    EXPECT_EQ(factory.begin(), "ttyACM0") << "begin in the middle restarts too";
}

TEST(PosixPortFactoryTest, Listing_EmptyWhenNoPortOrNoSysfs)
{
    FakeSysfs onlyVirtual;
    onlyVirtual.tty("tty1", "");
    onlyVirtual.tty("ttyS0", kPlatformUart, 0);
    PosixPortFactory factory(onlyVirtual.sys(), onlyVirtual.dev());
    EXPECT_EQ(factory.begin(), factory.end());
    EXPECT_EQ(factory.next(), factory.end());

    TempDir empty;
    PosixPortFactory noSysfs(empty.file("sys"), empty.file("dev"));
    EXPECT_EQ(noSysfs.begin(), "");
    EXPECT_EQ(noSysfs.next(), "");
}

TEST(PosixPortFactoryTest, Next_BeforeBeginIsTheEnd)
{
    FakeSysfs sys;
    sys.tty("ttyACM0", kUsbInterface);
    PosixPortFactory factory(sys.sys(), sys.dev());
    EXPECT_EQ(factory.next(), factory.end());
    EXPECT_EQ(factory.begin(), "ttyACM0");
}

TEST(PosixPortFactoryTest, Create_MarksPortsBehindUsbOnly)
{
    FakeSysfs sys;
    sys.tty("ttyACM3", kUsbInterface);
    sys.tty("ttyHS0", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.4"); // USB modem, odd name
    sys.device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.4", "usb");
    sys.tty("ttyS2", kPlatformUart, 4);
    fs::create_directories(sys.dev() + "/serial/by-id");
    writeFile(sys.dev() + "/ttyHS0", "");
    writeFile(sys.dev() + "/ttyS2", "");
    fs::create_symlink("../../ttyHS0", sys.dev() + "/serial/by-id/usb-Modem-if04");

    struct Case
    {
        std::string name;
        bool usb;
    };
    const Case cases[] = {
        {"ttyACM3", true},
        {"ttyUSB9", true}, // known by name even without sysfs
        {"ttyHS0", true},  // found by walking up to the USB device
        {sys.dev() + "/serial/by-id/usb-Modem-if04", true},
        {"ttyS2", false},
        {sys.dev() + "/ttyS2", false},
        {"ttyS77", false},
        {"/dev/pts/3", false},
    };
    PosixPortFactory factory(sys.sys(), sys.dev());
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        SerialPort::Ptr port = factory.create(c.name);
        ASSERT_TRUE(port);
        EXPECT_EQ(port->isUsb(), c.usb);
        EXPECT_EQ(port->name(), c.name);
    }
}

TEST(PosixPortFactoryTest, CreateWithMark_KeepsMarkAndLeavesPortClosed)
{
    FakeSysfs sys;
    PosixPortFactory factory(sys.sys(), sys.dev());
    for (bool mark : {true, false})
    {
        SerialPort::Ptr port = factory.create("ttyS2", mark);
        ASSERT_TRUE(port);
        EXPECT_EQ(port->isUsb(), mark);
        EXPECT_EQ(port->name(), "ttyS2");
        EXPECT_EQ(port->get(), -1);
        EXPECT_FALSE(port->timeout(10));
    }
}

TEST(PosixPortFactoryTest, Create_OpensTheNamedDeviceUnderTheDeviceRoot)
{
    FakeSysfs sys;
    sys.tty("ttyACM0", kUsbInterface);
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    char slave[128];
    ASSERT_EQ(ptsname_r(master, slave, sizeof slave), 0);
    fs::create_symlink(slave, sys.dev() + "/ttyACM0");

    PosixPortFactory factory(sys.sys(), sys.dev());
    SerialPort::Ptr port = factory.create(factory.begin());
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->isUsb());
    EXPECT_TRUE(port->open(921600));
    EXPECT_EQ(port->put('q'), 'q');
    char c = 0;
    EXPECT_EQ(::read(master, &c, 1), 1);
    EXPECT_EQ(c, 'q');
    port.reset();
    ::close(master);
}

} // namespace
