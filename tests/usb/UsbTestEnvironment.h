#pragma once

class UsbTestbed;

// The process's emulated bus, made by main() before anything can call libusb_init.
UsbTestbed& usbTestbed();
void setUsbTestbed(UsbTestbed* testbed);
