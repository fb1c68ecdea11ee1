// SPDX-License-Identifier: MIT
#include "programmer/usb/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <shared_mutex>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#ifndef KORVALIN_INSTALL_DATADIR
#define KORVALIN_INSTALL_DATADIR "/usr/local/share/korvalin-loader"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Neither a bus scan nor a retry of a device that refused to open happens more often than this:
// the link poll asks every 10 ms, and each attempt costs system calls and, for a refused open,
// a line in the kernel's log on some systems.
constexpr auto kRetryInterval = std::chrono::milliseconds(500);

// Hot-plug news is looked at no more often than this: a few polls' delay in noticing an
// arrival or a removal is invisible, and the idle poll then costs next to nothing.
constexpr auto kEventInterval = std::chrono::milliseconds(40);

constexpr uint16_t kPacketSize = 64;

bool hasBulkEndpoint(const libusb_interface_descriptor& alt, unsigned char address)
{
    for (int i = 0; i < alt.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& ep = alt.endpoint[i];
        if (ep.bEndpointAddress == address && (ep.bmAttributes & 0x03) == LIBUSB_TRANSFER_TYPE_BULK &&
            ep.wMaxPacketSize == kPacketSize)
            return true;
    }
    return false;
}

// Judged from the descriptors the kernel keeps, without opening the device.
bool programmerShaped(libusb_device* dev)
{
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(dev, 0, &config) != LIBUSB_SUCCESS)
        return false;
    bool shaped = false;
    for (int i = 0; i < config->bNumInterfaces && !shaped; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1)
            continue;
        const libusb_interface_descriptor& alt = interface.altsetting[0];
        shaped = alt.bInterfaceNumber == LibusbDriver::kInterface &&
                 alt.bInterfaceClass == LIBUSB_CLASS_VENDOR_SPEC &&
                 hasBulkEndpoint(alt, LibusbDriver::kOutEndpoint) && hasBulkEndpoint(alt, LibusbDriver::kInEndpoint);
    }
    libusb_free_config_descriptor(config);
    return shaped;
}

// "1-1.4", the kernel's name for the place the device is plugged in.
std::string portPath(libusb_device* dev)
{
    uint8_t ports[8];
    const int count = libusb_get_port_numbers(dev, ports, sizeof ports);
    std::string path = std::to_string(libusb_get_bus_number(dev));
    for (int i = 0; i < count; ++i)
        path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

// The kernel keeps the string descriptors in sysfs for everyone to read; asking the device
// would need it opened.
std::string sysfsString(const std::string& path, const char* name)
{
    std::ifstream file("/sys/bus/usb/devices/" + path + "/" + name);
    std::string value;
    std::getline(file, value);
    return value;
}

std::string devnodeOf(libusb_device* dev)
{
    char node[40];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(dev),
                  libusb_get_device_address(dev));
    return node;
}

// Opening usbfs claims nothing; it is the one test that sees ACLs, groups and capabilities
// exactly as libusb_open will.
bool mayOpen(const std::string& devnode)
{
    const int fd = ::open(devnode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

UsbCandidate describe(libusb_device* dev, const libusb_device_descriptor& descriptor)
{
    UsbCandidate candidate;
    candidate.path = portPath(dev);
    candidate.vendorId = descriptor.idVendor;
    candidate.productId = descriptor.idProduct;
    candidate.manufacturer = sysfsString(candidate.path, "manufacturer");
    candidate.product = sysfsString(candidate.path, "product");
    candidate.serial = sysfsString(candidate.path, "serial");
    candidate.devnode = devnodeOf(dev);
    return candidate;
}

} // namespace

bool listUsbCandidates(std::vector<UsbCandidate>& candidates, std::string& error, bool debugLog)
{
    candidates.clear();
    libusb_context* context = nullptr;
    int rc = libusb_init(&context);
    if (rc != LIBUSB_SUCCESS) {
        error = std::string("USB cannot be used on this system: ") + libusb_strerror(static_cast<libusb_error>(rc));
        return false;
    }
    if (debugLog)
        libusb_set_option(context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_DEBUG);
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
        error = std::string("the USB devices cannot be listed: ") +
                libusb_strerror(static_cast<libusb_error>(count));
        libusb_exit(context);
        return false;
    }
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS || !programmerShaped(list[i]))
            continue;
        UsbCandidate candidate = describe(list[i], descriptor);
        candidate.accessible = mayOpen(candidate.devnode);
        candidates.push_back(std::move(candidate));
    }
    libusb_free_device_list(list, 1);
    libusb_exit(context);
    std::sort(candidates.begin(), candidates.end(),
              [](const UsbCandidate& a, const UsbCandidate& b) { return a.path < b.path; });
    return true;
}

struct LibusbDriver::Impl {
    // A pipe belongs to one handle: once that handle is closed it fails for good, also after
    // the programmer has been opened again under a new handle.
    class Pipe : public UsbPipe {
    public:
        Pipe(Impl& owner, int handle, unsigned char endpoint) : owner_(owner), handle_(handle), endpoint_(endpoint) {}
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override
        {
            // libusb does not write through the buffer of an OUT transfer.
            return owner_.transfer(handle_, endpoint_, const_cast<uint8_t*>(data), length, timeoutMs);
        }
        int read(uint8_t* data, std::size_t length, int timeoutMs) override
        {
            return owner_.transfer(handle_, endpoint_, data, length, timeoutMs);
        }

    private:
        Impl& owner_;
        const int handle_;
        const unsigned char endpoint_;
    };

    explicit Impl(const UsbChoice& wanted) : choice(wanted), vendorId(wanted.vendorId), productId(wanted.productId) {}

    UsbChoice choice;
    uint16_t vendorId;
    uint16_t productId;
    bool refusal = false;      // lastError will not go away by waiting
    bool wantHotplug = true;
    bool busyRefusal = false;
    std::string chosenPath;
    libusb_context* context = nullptr;
    bool hotplug = false;
    libusb_hotplug_callback_handle hotplugHandle = 0;
    bool hotplugRegistered = false;

    // Devices of our ID that have arrived and not left (hot-plug), each referenced once.
    // The hot-plug callback runs inside libusb's event handling, which may be on the worker's
    // thread during a transfer, hence the lock.
    mutable std::mutex devicesLock;
    std::vector<libusb_device*> candidates;
    libusb_device* openDevice = nullptr;       // the device behind `device`, while open

    // The open programmer. Transfers hold the lock shared; closing takes it exclusively, so the
    // handle never goes away under a transfer.
    std::shared_mutex handleLock;
    libusb_device_handle* device = nullptr;
    int handleId = -1;
    int nextHandleId = 1;
    std::atomic<bool> removed{false};
    std::atomic<bool> deselected{false};   // open, but no longer the one chosen

    Clock::time_point nextScan{};              // no hot-plug: the next bus scan
    Clock::time_point nextRetry{};             // the next attempt at a device that refused
    Clock::time_point nextPump{};              // hot-plug: the next look at libusb's events
    std::atomic<uint64_t> scans{0};
    std::string lastError;

    // Every pipe ever handed out stays allocated (a worker may still hold one); two per open.
    std::vector<std::unique_ptr<Pipe>> pipes;
    Pipe* outPipe = nullptr;
    Pipe* inPipe = nullptr;

    static int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* dev, libusb_hotplug_event event,
                                     void* user)
    {
        auto* self = static_cast<Impl*>(user);
        std::lock_guard lock(self->devicesLock);
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
            if (std::find(self->candidates.begin(), self->candidates.end(), dev) == self->candidates.end())
                self->candidates.push_back(libusb_ref_device(dev));
        } else if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) {
            if (dev == self->openDevice)
                self->removed.store(true);
            self->dropCandidateLocked(dev);
        }
        return 0;   // stay registered
    }

    void dropCandidateLocked(libusb_device* dev)
    {
        auto it = std::find(candidates.begin(), candidates.end(), dev);
        if (it != candidates.end()) {
            libusb_unref_device(*it);
            candidates.erase(it);
        }
    }

    // Delivers whatever libusb has queued (hot-plug events above all) without waiting, and
    // only when something is there: a device's usbfs file counts as writable whenever a
    // transfer might be reaped, and with none in flight asking would cost an ioctl every poll.
    // Hang-ups and errors on it (an unplug) are reported whatever is asked for.
    void pumpEvents()
    {
        const Clock::time_point now = Clock::now();
        if (now < nextPump)
            return;
        nextPump = now + kEventInterval;
        if (!eventsPending())
            return;
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(context, &zero, nullptr);
    }

    bool eventsPending() const
    {
        const libusb_pollfd** sources = libusb_get_pollfds(context);
        if (sources == nullptr)
            return true;   // cannot tell: let libusb look
        std::vector<pollfd> set;
        for (std::size_t i = 0; sources[i] != nullptr; ++i)
            set.push_back({sources[i]->fd, static_cast<short>(sources[i]->events & POLLIN), 0});
        libusb_free_pollfds(sources);
        return ::poll(set.data(), set.size(), 0) != 0;   // ready, or a failure libusb should see
    }

    // Without hot-plug support: the bus as it is now, reduced to devices of our ID.
    void rescan()
    {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context, &list);
        scans.fetch_add(1);
        if (count < 0)
            return;
        std::vector<libusb_device*> found;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) == 0 && descriptor.idVendor == vendorId &&
                descriptor.idProduct == productId)
                found.push_back(libusb_ref_device(list[i]));
        }
        libusb_free_device_list(list, 1);

        std::lock_guard lock(devicesLock);
        if (openDevice != nullptr && std::find(found.begin(), found.end(), openDevice) == found.end())
            removed.store(true);
        for (libusb_device* dev : candidates)
            libusb_unref_device(dev);
        candidates = std::move(found);
    }

    bool configured() const { return vendorId != 0 || productId != 0; }

    // The candidate the choice names (referenced), or null: none plugged in (lastError ""),
    // none of them the one asked for, or several and nothing to tell them apart (lastError says
    // which). Several are never opened at random: the wrong chip would be written.
    libusb_device* pickCandidate()
    {
        std::vector<libusb_device*> all;
        {
            std::lock_guard lock(devicesLock);
            for (libusb_device* dev : candidates)
                all.push_back(libusb_ref_device(dev));
        }
        std::vector<std::pair<std::string, libusb_device*>> placed;
        for (libusb_device* dev : all)
            placed.emplace_back(portPath(dev), dev);
        std::sort(placed.begin(), placed.end());
        const std::string& wanted = choice.pick.empty() ? choice.serial : choice.pick;
        libusb_device* chosen = nullptr;
        std::string seen;
        int matching = 0;
        for (const auto& [path, dev] : placed) {
            const std::string serial = sysfsString(path, "serial");
            seen += (seen.empty() ? "" : ", ") + path + (serial.empty() ? "" : " serial " + serial);
            if (!wanted.empty() && path != wanted && serial != wanted)
                continue;
            if (++matching == 1) {
                chosen = libusb_ref_device(dev);
                chosenPath = path;
            }
        }
        for (libusb_device* dev : all)
            libusb_unref_device(dev);

        const std::string id = usbIdText(vendorId, productId);
        if (matching > 1 && !choice.firstOfSeveral) {
            libusb_unref_device(chosen);
            lastError = "several programmers (USB ID " + id + ") are plugged in: " + seen +
                        "; choose one with --usb SERIAL or --usb BUS-PORT (or KORVALIN_USB)";
            refusal = true;
            return nullptr;
        }
        if (chosen == nullptr && !placed.empty())
            lastError = "no programmer (USB ID " + id + ") with serial number or place \"" + wanted +
                        "\" is plugged in; plugged in: " + seen;
        return chosen;
    }

    void dropCandidate(libusb_device* dev)
    {
        std::lock_guard lock(devicesLock);
        dropCandidateLocked(dev);
    }

    std::string accessMessage() const
    {
        const std::string id = usbIdText(vendorId, productId);
        return "the programmer (USB ID " + id +
               ") is plugged in, but this user may not open it (permission denied). Install a "
               "udev rule for it: korvalin-cli udev-rule " + id + " | sudo " KORVALIN_INSTALL_DATADIR
               "/install-udev-rule, then unplug the programmer and plug it in again.";
    }

    // Opens and claims the device; a handle id, or -1 with lastError set.
    int open(libusb_device* dev)
    {
        const std::string id = usbIdText(vendorId, productId);
        libusb_device_handle* handle = nullptr;
        int rc = libusb_open(dev, &handle);
        if (rc != LIBUSB_SUCCESS) {
            if (rc == LIBUSB_ERROR_ACCESS)
                lastError = accessMessage();
            else
                lastError = "the programmer (USB ID " + id + ") was found but cannot be opened: " +
                            libusb_strerror(static_cast<libusb_error>(rc));
            if (rc == LIBUSB_ERROR_NO_DEVICE || rc == LIBUSB_ERROR_NOT_FOUND)
                dropCandidate(dev);
            return -1;
        }

        // Some systems bind a generic driver to a vendor interface; take it over for as long as
        // we hold the interface and give it back on release.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        int configuration = -1;
        if (libusb_get_configuration(handle, &configuration) == LIBUSB_SUCCESS && configuration == 0)
            libusb_set_configuration(handle, 1);
        rc = libusb_claim_interface(handle, kInterface);
        if (rc != LIBUSB_SUCCESS) {
            if (rc == LIBUSB_ERROR_BUSY) {
                lastError = "the programmer (USB ID " + id + ", " + chosenPath +
                            ") is in use by another program; close that program and try again.";
                refusal = true;
                busyRefusal = true;
            }
            else if (rc == LIBUSB_ERROR_ACCESS)
                lastError = accessMessage();
            else
                lastError = "the programmer (USB ID " + id + ") was found but its interface cannot be "
                            "claimed: " + libusb_strerror(static_cast<libusb_error>(rc));
            libusb_close(handle);
            if (rc == LIBUSB_ERROR_NO_DEVICE)
                dropCandidate(dev);
            return -1;
        }

        std::unique_lock handleGuard(handleLock);
        {
            std::lock_guard lock(devicesLock);
            openDevice = dev;
        }
        device = handle;
        removed.store(false);
        deselected.store(false);
        handleId = nextHandleId;
        nextHandleId = nextHandleId == INT_MAX ? 1 : nextHandleId + 1;
        pipes.push_back(std::make_unique<Pipe>(*this, handleId, kOutEndpoint));
        outPipe = pipes.back().get();
        pipes.push_back(std::make_unique<Pipe>(*this, handleId, kInEndpoint));
        inPipe = pipes.back().get();
        lastError.clear();
        refusal = false;
        return handleId;
    }

    void close()
    {
        std::unique_lock handleGuard(handleLock);
        if (device == nullptr)
            return;
        libusb_device* dev = nullptr;
        {
            std::lock_guard lock(devicesLock);
            dev = openDevice;
            openDevice = nullptr;
            // A device that has gone will come back (if ever) as a new arrival or scan result.
            if (removed.load())
                dropCandidateLocked(dev);
        }
        libusb_release_interface(device, kInterface);
        libusb_close(device);
        device = nullptr;
        handleId = -1;
        outPipe = nullptr;
        inPipe = nullptr;
    }

    int transfer(int handle, unsigned char endpoint, uint8_t* data, std::size_t length, int timeoutMs)
    {
        std::shared_lock guard(handleLock);
        if (device == nullptr || handle != handleId || removed.load() || deselected.load() ||
            length > static_cast<std::size_t>(INT_MAX))
            return -1;
        // libusb reads a time-out of 0 as "wait for ever"; a transfer here always ends.
        const unsigned int timeout = timeoutMs > 0 ? static_cast<unsigned int>(timeoutMs) : 1u;
        int transferred = 0;
        const int rc = libusb_bulk_transfer(device, endpoint, data, static_cast<int>(length), &transferred, timeout);
        if (rc == LIBUSB_SUCCESS)
            return transferred;
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            removed.store(true);
            return -1;
        }
        if (rc == LIBUSB_ERROR_PIPE) {
            // A halted endpoint stays halted until cleared; clear it so the next exchange can
            // succeed, and fail this one.
            libusb_clear_halt(device, endpoint);
            return -1;
        }
        // A time-out may leave part of the data transferred; the caller sees a short count.
        return transferred > 0 ? transferred : -1;
    }
};

namespace {
UsbChoice choiceOf(uint16_t vendorId, uint16_t productId)
{
    UsbChoice choice;
    choice.vendorId = vendorId;
    choice.productId = productId;
    return choice;
}
} // namespace

LibusbDriver::LibusbDriver(uint16_t vendorId, uint16_t productId, bool useHotplug)
    : LibusbDriver(choiceOf(vendorId, productId), useHotplug)
{
}

LibusbDriver::LibusbDriver(const UsbChoice& choice, bool useHotplug) : impl_(std::make_unique<Impl>(choice))
{
    impl_->wantHotplug = useHotplug;
    start();
}

void LibusbDriver::choose(const UsbChoice& choice)
{
    Impl& d = *impl_;
    if (d.context != nullptr && d.hotplugRegistered) {
        libusb_hotplug_deregister_callback(d.context, d.hotplugHandle);
        d.hotplugRegistered = false;
    }
    {
        std::lock_guard lock(d.devicesLock);
        for (libusb_device* dev : d.candidates)
            libusb_unref_device(dev);
        d.candidates.clear();
        const std::string& wanted = choice.pick.empty() ? choice.serial : choice.pick;
        const bool stillWanted = choice.vendorId == d.vendorId && choice.productId == d.productId &&
                                 (wanted.empty() || wanted == d.chosenPath ||
                                  wanted == sysfsString(d.chosenPath, "serial"));
        // Still plugged in, so not dropped as a removed one would be: it may be chosen again.
        if (d.openDevice != nullptr && !stillWanted)
            d.deselected.store(true);
    }
    d.choice = choice;
    d.vendorId = choice.vendorId;
    d.productId = choice.productId;
    d.lastError.clear();
    d.refusal = false;
    d.nextScan = {};
    d.nextRetry = {};
    d.nextPump = {};
    start();
}

void LibusbDriver::start()
{
    const uint16_t vendorId = impl_->vendorId;
    const uint16_t productId = impl_->productId;
    if (!impl_->configured()) {
        // Nothing to look for: the bus is left alone until the user has chosen a programmer.
        impl_->lastError = "no USB ID is set for the programmer: find it with `korvalin-cli usb-list` "
                           "and choose it with `korvalin-cli usb-use vvvv:pppp`";
        impl_->refusal = true;
        return;
    }
    if (impl_->context == nullptr) {
        const int rc = libusb_init(&impl_->context);
        if (rc != LIBUSB_SUCCESS) {
            impl_->context = nullptr;
            impl_->lastError = std::string("USB cannot be used on this system: ") +
                               libusb_strerror(static_cast<libusb_error>(rc));
            return;
        }
        // Per context: the level set on the default context does not reach this one.
        if (impl_->choice.debugLog)
            libusb_set_option(impl_->context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_DEBUG);
    }
    impl_->hotplug = false;
    if (impl_->wantHotplug && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        // ENUMERATE reports the devices already present as arrivals, right here.
        const int reg = libusb_hotplug_register_callback(
            impl_->context,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_ENUMERATE, vendorId, productId, LIBUSB_HOTPLUG_MATCH_ANY, &Impl::onHotplug, impl_.get(),
            &impl_->hotplugHandle);
        impl_->hotplug = reg == LIBUSB_SUCCESS;
        impl_->hotplugRegistered = impl_->hotplug;
    }
}

LibusbDriver::~LibusbDriver()
{
    if (impl_->context == nullptr)
        return;
    impl_->close();
    if (impl_->hotplugRegistered)
        libusb_hotplug_deregister_callback(impl_->context, impl_->hotplugHandle);
    {
        std::lock_guard lock(impl_->devicesLock);
        for (libusb_device* dev : impl_->candidates)
            libusb_unref_device(dev);
        impl_->candidates.clear();
    }
    libusb_exit(impl_->context);
}

int LibusbDriver::openProgrammer()
{
    Impl& d = *impl_;
    if (d.context == nullptr || !d.configured())
        return -1;
    if (d.device != nullptr)
        return d.handleId;

    const Clock::time_point now = Clock::now();
    if (d.hotplug) {
        d.pumpEvents();
    } else if (now >= d.nextScan) {
        d.nextScan = now + kRetryInterval;
        d.rescan();
    }

    // A device that refused once (permissions, busy, several to choose from) is retried at the
    // slow pace: the user may be installing the udev rule or closing the other program meanwhile.
    if (!d.lastError.empty() && now < d.nextRetry)
        return -1;
    d.lastError.clear();
    d.refusal = false;
    d.busyRefusal = false;
    libusb_device* dev = d.pickCandidate();
    if (dev == nullptr) {
        if (!d.lastError.empty())
            d.nextRetry = now + kRetryInterval;
        return -1;
    }
    const int handle = d.open(dev);
    if (handle == -1)
        d.nextRetry = now + kRetryInterval;
    libusb_unref_device(dev);
    return handle;
}

UsbPipe* LibusbDriver::openPipe(int handle, int, int index)
{
    if (handle == -1 || handle != impl_->handleId)
        return nullptr;
    if (index == 1)
        return impl_->outPipe;
    if (index == 0)
        return impl_->inPipe;
    return nullptr;
}

int LibusbDriver::isRemoved(int handle)
{
    Impl& d = *impl_;
    if (handle == -1 || handle != d.handleId || d.device == nullptr)
        return 1;
    if (d.hotplug) {
        d.pumpEvents();
    } else {
        const Clock::time_point now = Clock::now();
        if (now >= d.nextScan) {
            d.nextScan = now + kRetryInterval;
            d.rescan();
        }
    }
    return d.removed.load() || d.deselected.load() ? 1 : 0;
}

void LibusbDriver::closeProgrammer(int handle)
{
    if (handle == -1 || handle != impl_->handleId)
        return;
    impl_->close();
}

std::string LibusbDriver::lastError() const
{
    return impl_->lastError;
}

bool LibusbDriver::refused() const
{
    return impl_->refusal;
}

bool LibusbDriver::busy() const
{
    return impl_->busyRefusal;
}

std::string LibusbDriver::devicePath() const
{
    return impl_->chosenPath;
}

bool LibusbDriver::usesHotplug() const
{
    return impl_->hotplug;
}

uint64_t LibusbDriver::scanCount() const
{
    return impl_->scans.load();
}
