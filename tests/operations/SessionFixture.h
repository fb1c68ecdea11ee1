#pragma once

#include "RecordingFrontend.h"

#include <gtest/gtest.h>

#include "operations/Session.h"
#include "programmer/UsbDriver.h"
#include "sim/SimulatedDriver.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Passes everything to the simulated programmer and records every script written, in order.
// A gate can hold the worker before a chosen write until the test releases it, so that a
// cancel or an unplug lands inside a step for certain.
class RecordingDriver : public UsbDriver {
public:
    explicit RecordingDriver(UsbDriver& inner);
    ~RecordingDriver() override;

    int openProgrammer() override { return inner_.openProgrammer(); }
    UsbPipe* openPipe(int handle, int reserved, int index) override;
    int isRemoved(int handle) override { return inner_.isRemoved(handle); }
    void closeProgrammer(int handle) override { inner_.closeProgrammer(handle); }

    std::vector<std::vector<uint8_t>> scripts() const;
    std::size_t writes() const;
    void clear();

    // Holds the write with this index (counted from now) until release(). Writes of the thread
    // that set the gate pass: the session's own thread must never be stopped.
    void holdAt(std::size_t writeIndex);
    bool waitUntilHeld();
    bool isHeld() const;   // false when nothing reached the gate within a few seconds
    void release();

private:
    class Pipe;
    void recordWrite(const uint8_t* data, std::size_t length);

    UsbDriver& inner_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<uint8_t>> scripts_;
    std::size_t base_ = 0;
    int64_t holdAt_ = -1;
    bool held_ = false;
    std::thread::id gateSetter_;
    std::map<int, std::vector<std::unique_ptr<Pipe>>> pipes_;
};

// Fixture: a session on a catalogue, a simulated programmer behind a recording driver.
class SessionTest : public ::testing::Test {
protected:
    RecordingFrontend frontend;
    std::unique_ptr<SimulatedDriver> sim;
    std::unique_ptr<RecordingDriver> recorder;
    std::unique_ptr<Session> session;

    // Starts a session on the shipped catalogue (or catalogue when given) with device selected
    // and chip in the simulated programmer (empty: no chip), attaches and clears the record.
    void open(const std::string& device, const std::string& chip, SimConfig config = {},
              const std::string& catalogue = "");
    // Ticks until the running chain has ended; false when it does not end. betweenTicks runs
    // before every tick.
    bool runChain(const std::function<void()>& betweenTicks = {});
    // One button press and the chain it starts, to its end.
    void press(void (Session::*button)());

    SimChipState chip() const { return sim->chipState(); }
    // A path in the temporary folder, removed after the test.
    std::string tempPath(const std::string& name);
    // A catalogue file of the given lines.
    std::string writeCatalogue(const std::string& name, const std::vector<std::string>& lines);
    // A line of the shipped catalogue, columns as in the file (TABs included).
    static std::string shippedLine(const std::string& device);

    // An image of the selected device's geometry with every cell different from blank.
    MemoryImage patternImage(uint16_t configWord, uint16_t userId = 0x1234) const;
    // Writes image as a HEX file and opens it in the session as File Open does.
    void openImage(const MemoryImage& image);

    void TearDown() override;

private:
    std::vector<std::string> tempFiles_;
};

std::string shippedCataloguePath();
// The recorded calls from the first with this prefix on; empty when there is none.
std::vector<std::string> callsFrom(const std::vector<std::string>& calls, const std::string& first);
