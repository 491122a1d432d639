// USB port detection against the in-memory device-setup machine, and the merge
// of detected ports into a sorted port combo box.
#include "ports/usb_ports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

using testing::Each;
using testing::ElementsAre;
using testing::IsEmpty;

namespace tde {
namespace {

MemoryDeviceSetup::Value Raw(uint32_t type, std::vector<uint8_t> bytes) {
    return {type, std::move(bytes)};
}

TEST(UsbPortNameTest, FormatsTheNumberWithAtLeastThreeDigits) {
    EXPECT_EQ(UsbPortName(1), u"USB001");
    EXPECT_EQ(UsbPortName(27), u"USB027");
    EXPECT_EQ(UsbPortName(1000), u"USB1000");
    EXPECT_EQ(UsbPortKeyPath(u"USB\\VID_1234&PID_5678\\ABC"),
              u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
              u"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\##?#USB#VID_1234&PID_5678#ABC#"
              u"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\#\\Device Parameters");
}

TEST(ReadUsbPortNameTest, TakesOnlyANonZeroDword) {
    struct Case {
        const char* what;
        std::optional<MemoryDeviceSetup::Value> value;
        std::optional<std::u16string> port;
    };
    const Case cases[] = {
        {"dword 1", Raw(kRegDword, {1, 0, 0, 0}), u"USB001"},
        {"dword 1000", Raw(kRegDword, {0xE8, 0x03, 0, 0}), u"USB1000"},
        {"dword 0", Raw(kRegDword, {0, 0, 0, 0}), std::nullopt},
        {"text \"1\"", Raw(1, {'1', 0, 0, 0}), std::nullopt},  // would read as 49
        {"binary", Raw(3, {2, 0, 0, 0}), std::nullopt},
        {"short dword", Raw(kRegDword, {2, 0}), std::nullopt},
        {"qword", Raw(11, {2, 0, 0, 0, 0, 0, 0, 0}), std::nullopt},
        {"no value", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDeviceSetup setup;
        if (c.value) {
            setup.SetValue(u"USB\\VID_1\\X", *c.value);
        }
        EXPECT_EQ(ReadUsbPortName(setup, u"USB\\VID_1\\X"), c.port);
        EXPECT_EQ(setup.OpenKeyCount(), 0u) << "the key is closed";
        EXPECT_THAT(setup.keyAccess, Each(kKeyRead));
    }
    MemoryDeviceSetup setup;
    setup.SetValue(u"USB\\VID_1\\X", Raw(kRegDword, {5, 0, 0, 0}));
    EXPECT_EQ(ReadUsbPortName(setup, u"USB\\VID_1\\Y"), std::nullopt) << "another device's key";
    EXPECT_EQ(ReadUsbPortName(setup, std::u16string(1100, u'x')), std::nullopt)
        << "a key path past 1023 characters";
}

TEST(DetectUsbPrinterPortsTest, WaitsThenReadsEveryPresentPrinterInEnumerationOrder) {
    MemoryDeviceSetup setup;
    setup.AddPrinter(u"USB\\VID_04B8&PID_0E15\\B", 7);
    setup.AddPrinter(u"USB\\VID_04B8&PID_0E15\\NOPORT", std::nullopt);
    setup.AddPrinter(u"USB\\VID_04B8&PID_0E15\\ZERO", 0);
    setup.AddPrinter(u"USB\\VID_04B8&PID_0E15\\GONE", 3);
    setup.devices.back().present = false;
    setup.AddPrinter(u"USB\\VID_1234&PID_5678\\A", 1);

    EXPECT_THAT(DetectUsbPrinterPorts(setup), ElementsAre(u"USB007", u"USB001"));
    EXPECT_TRUE(setup.waitedBeforeAsking);
    EXPECT_EQ(setup.waitedMs, 1000u);
    EXPECT_EQ(setup.classDevsFlags, 0x12u);
    // Per interface: the size query without a buffer, then the buffer of the size asked for.
    ASSERT_EQ(setup.detailSizes.size(), 8u);
    for (size_t i = 0; i < 8; i += 2) {
        EXPECT_EQ(setup.detailSizes[i], 0u);
        EXPECT_GT(setup.detailSizes[i + 1], kInterfaceDetailSizeField);
    }
    EXPECT_THAT(setup.instanceIdChars, Each(kInstanceIdChars));
    EXPECT_THAT(setup.propertyBytes, Each(kPropertyBytes));
    EXPECT_EQ(setup.propertyBytes.size(), 8u);
    EXPECT_EQ(setup.OpenSetCount(), 0u);
    EXPECT_EQ(setup.OpenKeyCount(), 0u);
}

TEST(DetectUsbPrinterPortsTest, AFailedReadSkipsOnlyThatDevice) {
    struct Case {
        const char* what;
        void (*spoil)(MemoryDeviceSetup::Device&);
        DeviceSetupOp op;
        uint32_t onCall;  // 0: no planned fault
    };
    const Case cases[] = {
        {"instance ID fails", nullptr, DeviceSetupOp::GetDeviceInstanceIdW, 2},
        {"description fails", nullptr, DeviceSetupOp::GetDeviceRegistryPropertyW, 3},
        {"hardware IDs fail", nullptr, DeviceSetupOp::GetDeviceRegistryPropertyW, 4},
        {"registry key cannot be opened", nullptr, DeviceSetupOp::OpenMachineKey, 2},
        {"value cannot be read", nullptr, DeviceSetupOp::QueryValue, 2},
        {"no description", [](MemoryDeviceSetup::Device& d) { d.description.reset(); },
         DeviceSetupOp::GetClassDevsW, 0},
        {"no hardware IDs", [](MemoryDeviceSetup::Device& d) { d.hardwareIds.reset(); },
         DeviceSetupOp::GetClassDevsW, 0},
        {"description past 520 bytes",
         [](MemoryDeviceSetup::Device& d) { d.description = std::u16string(260, u'd'); },
         DeviceSetupOp::GetClassDevsW, 0},
        {"instance ID past 255 characters",
         [](MemoryDeviceSetup::Device& d) { d.instanceId = u"USB\\" + std::u16string(252, u'i'); },
         DeviceSetupOp::GetClassDevsW, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDeviceSetup setup;
        setup.AddPrinter(u"USB\\P\\1", 1);
        setup.AddPrinter(u"USB\\P\\2", 2);
        setup.AddPrinter(u"USB\\P\\3", 3);
        if (c.spoil != nullptr) {
            c.spoil(setup.devices[1]);
            setup.SetValue(setup.devices[1].instanceId, Raw(kRegDword, {2, 0, 0, 0}));
        }
        if (c.onCall != 0) {
            setup.FailCall(c.op, 13, c.onCall);
        }
        EXPECT_THAT(DetectUsbPrinterPorts(setup), ElementsAre(u"USB001", u"USB003"));
        EXPECT_EQ(setup.OpenSetCount(), 0u);
        EXPECT_EQ(setup.OpenKeyCount(), 0u);
    }
}

TEST(DetectUsbPrinterPortsTest, AnEarlyStopKeepsWhatWasFound) {
    struct Case {
        const char* what;
        DeviceSetupOp op;
        uint32_t onCall;
        bool sizeQuerySucceeds;
    };
    const Case cases[] = {
        {"the size query succeeds", DeviceSetupOp::GetClassDevsW, 0, true},
        {"the detail read fails", DeviceSetupOp::GetDeviceInterfaceDetailW, 4, false},
        {"the enumeration fails", DeviceSetupOp::EnumDeviceInterfaces, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDeviceSetup setup;
        setup.AddPrinter(u"USB\\P\\1", 1);
        setup.AddPrinter(u"USB\\P\\2", 2);
        setup.AddPrinter(u"USB\\P\\3", 3);
        setup.devices[1].detailSizeQuerySucceeds = c.sizeQuerySucceeds;
        if (c.onCall != 0) {
            setup.FailCall(c.op, 8, c.onCall);
        }
        EXPECT_THAT(DetectUsbPrinterPorts(setup), ElementsAre(u"USB001"));
        EXPECT_EQ(setup.CallCount(DeviceSetupOp::GetDeviceInstanceIdW), 1u) << "nothing after";
        EXPECT_EQ(setup.OpenSetCount(), 0u);
    }
}

TEST(DetectUsbPrinterPortsTest, NoDeviceSetGivesNothingAndReleasesNothing) {
    MemoryDeviceSetup setup;
    setup.AddPrinter(u"USB\\P\\1", 1);
    setup.classDevsFails = true;
    EXPECT_THAT(DetectUsbPrinterPorts(setup), IsEmpty());
    EXPECT_EQ(setup.waitedMs, 1000u) << "the wait comes first, whatever follows";
    EXPECT_EQ(setup.CallCount(DeviceSetupOp::EnumDeviceInterfaces), 0u);

    MemoryDeviceSetup none;
    EXPECT_THAT(DetectUsbPrinterPorts(none), IsEmpty());
    EXPECT_EQ(none.OpenSetCount(), 0u);
}

TEST(MergeDetectedPortsTest, AddsMissingPortsInSortedPlaceAndSelectsTheFirstDetected) {
    struct Case {
        const char* what;
        std::vector<std::u16string> items;
        int selection;
        UsbPortList detected;
        std::vector<std::u16string> expectedItems;
        int expectedSelection;
    };
    const Case cases[] = {
        {"a listed usb001 matches USB001",
         {u"COM1", u"usb001"},
         0,
         {u"USB001"},
         {u"COM1", u"usb001"},
         1},
        {"USB007 goes to its sorted place",
         {u"COM1", u"LPT1", u"USB001", u"USB010"},
         0,
         {u"USB007"},
         {u"COM1", u"LPT1", u"USB001", u"USB007", u"USB010"},
         3},
        {"two printers: both added, the first enumerated selected",
         {u"COM1", u"LPT1"},
         0,
         {u"USB005", u"USB002"},
         {u"COM1", u"LPT1", u"USB002", u"USB005"},
         3},
        {"the second printer already listed",
         {u"COM1", u"USB002"},
         0,
         {u"USB003", u"USB002"},
         {u"COM1", u"USB002", u"USB003"},
         2},
        {"an empty list", {}, -1, {u"USB1000"}, {u"USB1000"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SortedPortCombo combo;
        combo.items = c.items;
        combo.selection = c.selection;
        MergeDetectedPorts(combo, c.detected);
        EXPECT_EQ(combo.items, c.expectedItems);
        EXPECT_EQ(combo.selection, c.expectedSelection);
    }
}

TEST(ChooseAutoPortTest, TakesOnlyThisModelsPrinter) {
    using P = std::vector<UsbPrinter>;
    const UsbPrinter ours{u"USB001", u"ZNW A4 Printer", {u"USB\\VID_1&PID_1"}};
    const UsbPrinter byId{u"USB003", u"USB Printing Support", {u"USB\\VID_2", u"USBPRINT\\zNwA4"}};
    const UsbPrinter plain{u"USB002", u"USB Printing Support", {u"USB\\VID_3&PID_3"}};
    const std::vector<QueueOnPort> receiptOn2 = {{u"Receipt", u"EPSON TM-T20", u"USB002"},
                                                 {u"A4 Printer", u"A4 Printer", u"USB003"}};
    const std::vector<QueueOnPort> receiptOn1 = {{u"Receipt", u"EPSON TM-T20", u"usb001"}};
    struct Case {
        const char* what;
        P printers;
        std::vector<QueueOnPort> queues;
        const char16_t* port;     // taken; null: none
        const char16_t* refusal;  // a part of it
    };
    const Case cases[] = {
        {"ours beside another maker's with its queue", P{plain, ours}, receiptOn2, u"USB001",
         nullptr},
        {"ours by a hardware ID, carrying our queue", P{byId}, receiptOn2, u"USB003", nullptr},
        {"ours whatever queue it carries", P{ours}, receiptOn1, u"USB001", nullptr},
        {"an unnamed printer with no other queue", P{plain}, {}, u"USB002", nullptr},
        {"only another driver's printer", P{plain}, receiptOn2, nullptr,
         u"no USB printer of this model was found: USB002: it carries the printer \"Receipt\""},
        {"ours and an unnamed free one",
         P{ours, plain},
         {},
         nullptr,
         u"more than one USB printer may be this model's: USB001 (its device names ZNW); USB002"},
        {"two of ours beside a skipped one", P{ours, byId, plain}, receiptOn2, nullptr,
         u"names ZNW); skipped: USB002: it carries the printer \"Receipt\""},
        {"none", P{}, {}, nullptr, u"no USB printer was found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AutoPortChoice choice = ChooseAutoPort(c.printers, c.queues, u"a4 printer");
        EXPECT_EQ(choice.port, c.port ? std::optional<std::u16string>(c.port) : std::nullopt);
        EXPECT_EQ(choice.lines.size(), c.printers.size());
        if (c.refusal != nullptr) {
            EXPECT_NE(choice.refusal.find(c.refusal), std::u16string::npos)
                << std::string(choice.refusal.begin(), choice.refusal.end());
        }
    }
    // What the detection reads of each device, every hardware ID of the list.
    MemoryDeviceSetup setup;
    setup.AddPrinter(u"USB\\P\\1", 1);
    setup.devices[0].hardwareIds = std::u16string(u"USB\\VID_2\0USBPRINT\\ZNWA4", 24);
    const std::vector<UsbPrinter> found = DetectUsbPrinters(setup);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].description, u"USB Printing Support");
    EXPECT_THAT(found[0].hardwareIds, ElementsAre(u"USB\\VID_2", u"USBPRINT\\ZNWA4"));
}

}  // namespace
}  // namespace tde
