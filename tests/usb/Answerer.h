#pragma once

#include <cstddef>
#include <cstdint>

// What stands behind the emulated programmer's two bulk endpoints. Called on umockdev's own
// thread, one call at a time, and must never block.
class Answerer {
public:
    virtual ~Answerer() = default;
    // A transfer to OUT 0x01 has arrived: the bytes accepted, or -1 to fail it (endpoint halt).
    virtual int onOut(const uint8_t* data, std::size_t length) = 0;
    // A transfer from IN 0x81 is waiting: the bytes answered (at most length), or -1 to leave
    // it unanswered, as a programmer that stalls does; libusb then times it out.
    virtual int onIn(uint8_t* data, std::size_t length) = 0;
};
