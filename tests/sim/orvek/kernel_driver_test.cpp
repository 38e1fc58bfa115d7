// The kernel-mode driver under Wine: what it does with malformed uploads and requests it was not
// made for, and that its cards and its service leave with the simulation. Every request is
// bounded by a time-out: a driver that keeps one fails the test instead of hanging it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "sim/model/scenario.h"
#include "sim/orvek/driver/orvek_sim_control.h"
#include "sim/orvek/kernel_driver_service.h"
#include "sim/private_simulation.h"

namespace crvmon::sim {
namespace {

struct Outcome {
    bool succeeded = false;
    DWORD error = 0;
    DWORD transferred = 0;
};

// A failed open is INVALID_HANDLE_VALUE, not null: unique_ptr passes it to the closer.
struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle openDevice(const char* path) {
    return Handle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
}

Outcome request(HANDLE device, DWORD code, const void* input, DWORD inputLength, void* output,
                DWORD outputLength) {
    Outcome outcome;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    if (DeviceIoControl(device, code, const_cast<void*>(input), inputLength, output, outputLength,
                        &count, &overlapped)) {
        outcome.succeeded = GetOverlappedResult(device, &overlapped, &outcome.transferred, FALSE);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 10'000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "request 0x" << std::hex << code << " was never completed";
            CancelIo(device);
        }
        outcome.succeeded = GetOverlappedResult(device, &overlapped, &outcome.transferred, FALSE);
    }
    if (!outcome.succeeded) outcome.error = GetLastError();
    CloseHandle(overlapped.hEvent);
    return outcome;
}

class KernelDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        simulation_ = std::make_unique<PrivateSimulation>(
            parseScenario("[[orvek]]\ndevice_index = 0\n[[orvek]]\ndevice_index = 2\n"));
    }
    // Identity of card 0 answers as the library reads it.
    static void expectCardAnswers() {
        Handle card = openDevice("\\\\.\\corvanta_pcie");
        ASSERT_NE(card.get(), INVALID_HANDLE_VALUE);
        std::vector<std::uint8_t> block(128, 0);
        const Outcome identity =
            request(card.get(), ORVEK_SIM_IOCTL_DEVICE_INFO, block.data(), 128, block.data(), 128);
        EXPECT_TRUE(identity.succeeded);
        EXPECT_EQ(identity.transferred, 128u);
        EXPECT_EQ(block[0] | (block[1] << 8), 0x1D9C);
    }

    std::unique_ptr<PrivateSimulation> simulation_;
};

TEST_F(KernelDriver, MalformedUploadsAreRefusedAndTheCardsAnswerOn) {
    Handle control = openDevice(ORVEK_SIM_CONTROL_PATH);
    ASSERT_NE(control.get(), INVALID_HANDLE_VALUE);

    orvek_sim_card_image image{};
    EXPECT_EQ(
        request(control.get(), ORVEK_SIM_LOAD_CARD, &image, sizeof image - 1, nullptr, 0).error,
        static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    image.device_index = ORVEK_SIM_MAX_CARDS;
    EXPECT_EQ(request(control.get(), ORVEK_SIM_LOAD_CARD, &image, sizeof image, nullptr, 0).error,
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    image.device_index = 0;
    image.usage_length = ORVEK_SIM_USAGE_MAX + 1;
    EXPECT_EQ(request(control.get(), ORVEK_SIM_LOAD_CARD, &image, sizeof image, nullptr, 0).error,
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    auto usage = std::make_unique<orvek_sim_usage_upload>();
    usage->device_index = 0;
    usage->length = ORVEK_SIM_USAGE_MAX + 1;  // claims more than the upload can hold
    EXPECT_FALSE(request(control.get(), ORVEK_SIM_SET_USAGE, usage.get(), sizeof *usage, nullptr, 0)
                     .succeeded);
    usage->length = 100;  // claims more than was sent
    EXPECT_FALSE(request(control.get(), ORVEK_SIM_SET_USAGE, usage.get(),
                         ORVEK_SIM_USAGE_HEADER + 99, nullptr, 0)
                     .succeeded);
    EXPECT_FALSE(request(control.get(), ORVEK_SIM_SET_USAGE, usage.get(), 4, nullptr, 0).succeeded);
    usage->device_index = 1;  // no such card
    EXPECT_FALSE(request(control.get(), ORVEK_SIM_SET_USAGE, usage.get(),
                         ORVEK_SIM_USAGE_HEADER + 100, nullptr, 0)
                     .succeeded);
    EXPECT_EQ(request(control.get(), ORVEK_SIM_CONTROL_CODE(0x9FF), nullptr, 0, nullptr, 0).error,
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    // None of it reached a card or made one.
    expectCardAnswers();
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie1").get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(KernelDriver, CardRequestsCompleteWithTheirCountAndOnlyUnknownCodesFail) {
    Handle card = openDevice("\\\\.\\corvanta_pcie2");
    ASSERT_NE(card.get(), INVALID_HANDLE_VALUE);
    std::vector<std::uint8_t> buffer(ORVEK_SIM_USAGE_MAX, 0);

    // Too small for the card's answer: success with nothing transferred, never a failure.
    Outcome small =
        request(card.get(), ORVEK_SIM_IOCTL_DEVICE_INFO, buffer.data(), 127, buffer.data(), 127);
    EXPECT_TRUE(small.succeeded);
    EXPECT_EQ(small.transferred, 0u);
    small = request(card.get(), ORVEK_SIM_IOCTL_USAGE, nullptr, 0, buffer.data(), 88);
    EXPECT_TRUE(small.succeeded);
    EXPECT_EQ(small.transferred, 0u);
    const Outcome whole =
        request(card.get(), ORVEK_SIM_IOCTL_USAGE, nullptr, 0, buffer.data(), ORVEK_SIM_USAGE_MAX);
    EXPECT_TRUE(whole.succeeded);
    EXPECT_EQ(whole.transferred, ORVEK_SIM_USAGE_MAX);
    // A register request of the wrong size, and a read with no output buffer at all.
    const Outcome shortRequest =
        request(card.get(), ORVEK_SIM_IOCTL_REGISTER, buffer.data(), 11, buffer.data(), 4);
    EXPECT_TRUE(shortRequest.succeeded);
    EXPECT_EQ(shortRequest.transferred, 0u);
    const std::uint32_t read[3] = {ORVEK_SIM_REGISTER_READ, 0x0FC12060, 0};
    const Outcome noOutput = request(card.get(), ORVEK_SIM_IOCTL_REGISTER, read, 12, nullptr, 0);
    EXPECT_TRUE(noOutput.succeeded);
    EXPECT_EQ(noOutput.transferred, 0u);

    // Codes a card does not know, including the control device's own and a METHOD_NEITHER one,
    // fail at once with an error.
    for (DWORD code : {DWORD{0x00222016}, DWORD{0x00222003}, DWORD{ORVEK_SIM_LOAD_CARD}}) {
        const Outcome unknown = request(card.get(), code, buffer.data(), 12, buffer.data(), 12);
        EXPECT_FALSE(unknown.succeeded) << std::hex << code;
        EXPECT_EQ(unknown.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << std::hex << code;
    }
    expectCardAnswers();
}

TEST_F(KernelDriver, ASecondSimulationIsRefusedAndLeavesTheFirstServing) {
    EXPECT_THROW(PrivateSimulation(parseScenario("[[orvek]]\ndevice_index = 1\n")),
                 std::runtime_error);
    expectCardAnswers();
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie1").get(), INVALID_HANDLE_VALUE);
}

TEST_F(KernelDriver, CardsAndTheServiceLeaveWithTheSimulation) {
    simulation_.reset();  // one simulation at a time on a machine
    simulation_ =
        std::make_unique<PrivateSimulation>(parseScenario("[[orvek]]\ndevice_index = 1\n"));
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie").get(), INVALID_HANDLE_VALUE);
    EXPECT_NE(openDevice("\\\\.\\corvanta_pcie1").get(), INVALID_HANDLE_VALUE);

    simulation_.reset();
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie1").get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(openDevice(ORVEK_SIM_CONTROL_PATH).get(), INVALID_HANDLE_VALUE);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceW(manager, L"crvmon_orvek_sim", SERVICE_QUERY_STATUS);
    EXPECT_EQ(service, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(KernelDriverService, AServiceLeftBehindIsReplaced) {
    // A process that ended without unloading its driver leaves the service running.
    auto leftBehind = std::make_unique<KernelDriverService>(
        L"crvmon_orvek_sim", KernelDriverService::orvekDriverImage());
    KernelDriverService next(L"crvmon_orvek_sim", KernelDriverService::orvekDriverImage());
    EXPECT_NE(openDevice(ORVEK_SIM_CONTROL_PATH).get(), INVALID_HANDLE_VALUE);
    (void)leftBehind.release();  // its owner is gone: nothing will unload it but the next one
}

}  // namespace
}  // namespace crvmon::sim
