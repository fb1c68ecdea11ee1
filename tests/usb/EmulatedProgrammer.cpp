// SPDX-License-Identifier: MIT
#include "tests/usb/EmulatedProgrammer.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <vector>

namespace {

constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;

// Writes a plain value into resolved client memory so that it is copied back to the client.
template <typename T>
void store(UMockdevIoctlData* data, std::size_t offset, T value)
{
    umockdev_ioctl_data_update(data, offset, reinterpret_cast<guint8*>(&value), sizeof value);
}

} // namespace

EmulatedProgrammer::EmulatedProgrammer(std::string node, std::string path)
    : devnode(std::move(node)), syspath(std::move(path))
{
    handler_ = umockdev_ioctl_base_new();
    signalId_ = g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedProgrammer::onIoctl), this);
}

EmulatedProgrammer::~EmulatedProgrammer()
{
    g_signal_handler_disconnect(handler_, signalId_);
    std::lock_guard lock(mutex_);
    for (Urb& urb : waiting_)
        release(urb);
    for (Urb& urb : completed_)
        release(urb);
    g_object_unref(handler_);
}

void EmulatedProgrammer::queueAnswer(Bytes answer)
{
    std::lock_guard lock(mutex_);
    answers_.push_back({false, std::move(answer)});
}

void EmulatedProgrammer::queueSilence()
{
    std::lock_guard lock(mutex_);
    answers_.push_back({true, {}});
}

void EmulatedProgrammer::forwardTo(UsbPipe* out, UsbPipe* in)
{
    std::lock_guard lock(mutex_);
    forwardOut_ = out;
    forwardIn_ = in;
}

void EmulatedProgrammer::disconnect()
{
    std::lock_guard lock(mutex_);
    disconnected_ = true;
    // The kernel gives every URB in flight back with ESHUTDOWN; a pending read must not be left
    // hanging for its whole time-out.
    for (Urb& urb : waiting_) {
        finish(urb, -ESHUTDOWN, 0);
        completed_.push_back(urb);
        ++shutDown;
    }
    waiting_.clear();
}

int EmulatedProgrammer::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    static_cast<EmulatedProgrammer*>(self)->handle(client);
    return TRUE;
}

void EmulatedProgrammer::handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    std::lock_guard lock(mutex_);
    // Counted even on a gone device: the tests check that the driver lets go exactly once.
    if (request == USBDEVFS_RELEASEINTERFACE) {
        ++releases;
        claimed_ = false;
    }
    // Reaping stays possible after an unplug (REAP_AFTER_DISCONNECT): libusb collects the
    // transfers the unplug ended before it hears ENODEV.
    const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    int error = 0;
    if (disconnected_ && !reaping && request != USBDEVFS_DISCARDURB) {
        error = ENODEV;
    } else if (request == USBDEVFS_GET_CAPABILITIES) {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        store<uint32_t>(caps, 0, kCapabilities);
        g_object_unref(caps);
    } else if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_DISCONNECT_CLAIM) {
        // As the kernel does: an interface another open file holds is busy.
        error = claimed_ ? EBUSY : claimError.load();
        ++claimAttempts;
        claims += error == 0 ? 1 : 0;
        claimed_ = claimed_ || error == 0;
    } else if (request == USBDEVFS_GETDRIVER) {
        error = ENODATA;   // no kernel driver is bound to the vendor interface
    } else if (request == USBDEVFS_SUBMITURB) {
        return submit(client, arg);
    } else if (reaping) {
        return reap(client, arg);
    } else if (request == USBDEVFS_DISCARDURB) {
        return discard(client, arg);
    } else if (request != USBDEVFS_RELEASEINTERFACE && request != USBDEVFS_CLEAR_HALT &&
               request != USBDEVFS_RESETEP && request != USBDEVFS_RESET &&
               request != USBDEVFS_SETINTERFACE && request != USBDEVFS_SETCONFIGURATION) {
        error = ENOTTY;
    }
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

void EmulatedProgrammer::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    Urb urb;
    // libusb hands over memory of its own: resolving it does not fail.
    urb.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    urb.clientAddress = urb.urb->client_addr;
    const auto* header = reinterpret_cast<const usbdevfs_urb*>(urb.urb->data);
    const int length = header->buffer_length;
    const unsigned char endpoint = header->endpoint;
    if (header->type != USBDEVFS_URB_TYPE_BULK || length < 0 ||
        (endpoint != 0x01 && endpoint != 0x81)) {
        release(urb);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    if (length > 0)
        urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<gsize>(length), nullptr);

    // Nothing is submitted once disconnected (handle() refuses it), so the far end is there.
    if (endpoint == 0x01) {
        const uint8_t* data = urb.buffer ? urb.buffer->data : nullptr;
        // Without a simulator behind it, what is sent is taken and dropped.
        const int accepted = forwardOut_ != nullptr ? forwardOut_->write(data, static_cast<std::size_t>(length), 0) : length;
        finish(urb, accepted < 0 ? -EPIPE : 0, std::max(accepted, 0));
        completed_.push_back(urb);
    } else {
        Bytes answer(static_cast<std::size_t>(length));
        int answered = std::min(length, 8);   // zeros when nothing else is set up
        if (!answers_.empty()) {
            answered = answers_.front().silent ? -1 : std::min<int>(length, answers_.front().bytes.size());
            std::copy_n(answers_.front().bytes.begin(), std::max(answered, 0), answer.begin());
            answers_.pop_front();
        } else if (forwardIn_ != nullptr) {
            // A zero time-out: the simulator answers at once or, stalled, not at all.
            answered = forwardIn_->read(answer.data(), answer.size(), 0);
        }
        if (answered < 0) {
            ++silentReads;
            waiting_.push_back(urb);   // stays in flight until discarded or unplugged
        } else {
            if (answered > 0)
                umockdev_ioctl_data_update(urb.buffer, 0, answer.data(), answered);
            finish(urb, 0, answered);
            completed_.push_back(urb);
        }
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedProgrammer::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (completed_.empty()) {
        umockdev_ioctl_client_complete(client, -1, disconnected_ ? ENODEV : EAGAIN);
        return;
    }
    Urb urb = completed_.front();
    completed_.pop_front();
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    // The client's pointer variable now names its URB, whose status, length and data go back.
    umockdev_ioctl_data_set_ptr(slot, 0, urb.urb);
    g_object_unref(slot);
    release(urb);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedProgrammer::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    // DISCARDURB passes the URB's address itself, not a pointer to it.
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (it->clientAddress == address) {
            Urb urb = *it;
            waiting_.erase(it);
            finish(urb, -ENOENT, 0);
            completed_.push_back(urb);
            ++discarded;
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    // Already complete: the kernel answers EINVAL and the client reaps it as it is.
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void EmulatedProgrammer::finish(Urb& urb, int status, int actualLength)
{
    store<int>(urb.urb, offsetof(usbdevfs_urb, status), status);
    store<int>(urb.urb, offsetof(usbdevfs_urb, actual_length), actualLength);
}

void EmulatedProgrammer::release(Urb& urb)
{
    if (urb.buffer != nullptr)
        g_object_unref(urb.buffer);
    if (urb.urb != nullptr)
        g_object_unref(urb.urb);
    urb.buffer = nullptr;
    urb.urb = nullptr;
}
