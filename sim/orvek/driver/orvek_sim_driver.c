/* The simulated Orvek kernel-mode driver: a control device through which the user-mode
 * simulator uploads cards, and one device object per uploaded card answering the library's
 * three control requests from the uploaded bytes. It never waits and never keeps a request:
 * every request is completed before its dispatch routine returns. */
#include <ntddk.h>

#include "sim/orvek/driver/orvek_sim_card.h"
#include "sim/orvek/driver/orvek_sim_control.h"

struct card_extension {
    KSPIN_LOCK lock; /* guards card */
    struct orvek_sim_card card;
};

static PDEVICE_OBJECT control_device;
static PDEVICE_OBJECT cards[ORVEK_SIM_MAX_CARDS];
static FAST_MUTEX cards_mutex; /* guards cards[] */

/* "\Device\corvanta_pcie" or "\Device\corvanta_pcieN", and the same under "\DosDevices\". */
static void card_name(WCHAR* out, size_t capacity, const WCHAR* prefix, uint32_t index) {
    static const WCHAR base[] = L"" ORVEK_SIM_DEVICE_BASE_NAME;
    WCHAR digits[4];
    size_t used = 0, count = 0, i;
    for (i = 0; prefix[i] != 0 && used + 1 < capacity; ++i) out[used++] = prefix[i];
    for (i = 0; base[i] != 0 && used + 1 < capacity; ++i) out[used++] = base[i];
    if (index != 0) {
        do {
            digits[count++] = (WCHAR)(L'0' + index % 10);
            index /= 10;
        } while (index != 0 && count < sizeof digits / sizeof digits[0]);
        while (count != 0 && used + 1 < capacity) out[used++] = digits[--count];
    }
    out[used] = 0;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void delete_card(uint32_t index) {
    WCHAR link[64];
    UNICODE_STRING name;
    if (cards[index] == NULL) return;
    card_name(link, sizeof link / sizeof link[0], L"\\DosDevices\\", index);
    RtlInitUnicodeString(&name, link);
    IoDeleteSymbolicLink(&name);
    IoDeleteDevice(cards[index]);
    cards[index] = NULL;
}

static NTSTATUS create_card(PDRIVER_OBJECT driver, uint32_t index) {
    WCHAR device[64], link[64];
    UNICODE_STRING device_name, link_name;
    PDEVICE_OBJECT object = NULL;
    struct card_extension* extension;
    NTSTATUS status;

    card_name(device, sizeof device / sizeof device[0], L"\\Device\\", index);
    card_name(link, sizeof link / sizeof link[0], L"\\DosDevices\\", index);
    RtlInitUnicodeString(&device_name, device);
    RtlInitUnicodeString(&link_name, link);
    status = IoCreateDevice(driver, sizeof(struct card_extension), &device_name,
                            FILE_DEVICE_UNKNOWN, 0, FALSE, &object);
    if (!NT_SUCCESS(status)) return status;
    extension = (struct card_extension*)object->DeviceExtension;
    RtlZeroMemory(extension, sizeof *extension);
    KeInitializeSpinLock(&extension->lock);
    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(object);
        return status;
    }
    object->Flags &= ~DO_DEVICE_INITIALIZING;
    cards[index] = object;
    return STATUS_SUCCESS;
}

static NTSTATUS load_card(PDRIVER_OBJECT driver, const void* input, ULONG length) {
    struct orvek_sim_card_image header;
    struct card_extension* extension;
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    int loaded;

    if (input == NULL || length != sizeof header) return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(&header, input, sizeof header);
    if (header.device_index >= ORVEK_SIM_MAX_CARDS) return STATUS_INVALID_PARAMETER;

    ExAcquireFastMutex(&cards_mutex);
    if (cards[header.device_index] == NULL) status = create_card(driver, header.device_index);
    if (NT_SUCCESS(status)) {
        extension = (struct card_extension*)cards[header.device_index]->DeviceExtension;
        KeAcquireSpinLock(&extension->lock, &irql);
        loaded = orvek_sim_card_load(&extension->card, &header, sizeof header);
        KeReleaseSpinLock(&extension->lock, irql);
        if (loaded != 0) status = STATUS_INVALID_PARAMETER;
    }
    ExReleaseFastMutex(&cards_mutex);
    return status;
}

static NTSTATUS set_usage(const uint8_t* input, ULONG length) {
    uint32_t index, usage_length;
    struct card_extension* extension;
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;

    if (input == NULL || length < ORVEK_SIM_USAGE_HEADER) return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(&index, input, sizeof index);
    RtlCopyMemory(&usage_length, input + 4, sizeof usage_length);
    if (index >= ORVEK_SIM_MAX_CARDS || usage_length > ORVEK_SIM_USAGE_MAX ||
        length - ORVEK_SIM_USAGE_HEADER != usage_length) {
        return STATUS_INVALID_PARAMETER;
    }

    ExAcquireFastMutex(&cards_mutex);
    if (cards[index] == NULL) {
        status = STATUS_NO_SUCH_DEVICE;
    } else {
        extension = (struct card_extension*)cards[index]->DeviceExtension;
        KeAcquireSpinLock(&extension->lock, &irql);
        orvek_sim_card_set_usage(&extension->card, input + ORVEK_SIM_USAGE_HEADER, usage_length);
        KeReleaseSpinLock(&extension->lock, irql);
    }
    ExReleaseFastMutex(&cards_mutex);
    return status;
}

static void remove_cards(void) {
    uint32_t i;
    ExAcquireFastMutex(&cards_mutex);
    for (i = 0; i < ORVEK_SIM_MAX_CARDS; ++i) delete_card(i);
    ExReleaseFastMutex(&cards_mutex);
}

static NTSTATUS control_request(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
    const void* input = irp->AssociatedIrp.SystemBuffer;

    switch (code) {
        case ORVEK_SIM_LOAD_CARD:
            return complete(irp, load_card(device->DriverObject, input, length), 0);
        case ORVEK_SIM_SET_USAGE: return complete(irp, set_usage((const uint8_t*)input, length), 0);
        case ORVEK_SIM_REMOVE_CARDS: remove_cards(); return complete(irp, STATUS_SUCCESS, 0);
        default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* A card's request. Requests the card knows always complete with success and the count the
 * card transfers (0 for "nothing"): a request failed at once would leave its caller's event
 * unsignalled. */
static NTSTATUS card_request(PDEVICE_OBJECT device, PIRP irp) {
    struct card_extension* extension = (struct card_extension*)device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG input_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG output_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t request[ORVEK_SIM_REGISTER_REQUEST_SIZE];
    uint8_t* output = NULL;
    long transferred;
    KIRQL irql;

    switch (METHOD_FROM_CTL_CODE(code)) {
        case METHOD_BUFFERED: output = (uint8_t*)irp->AssociatedIrp.SystemBuffer; break;
        case METHOD_IN_DIRECT:
        case METHOD_OUT_DIRECT:
            if (irp->MdlAddress != NULL) {
                output =
                    (uint8_t*)MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
            }
            break;
        default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (output == NULL) output_length = 0;

    /* The input is read before any output is written: buffered requests share one buffer.
     * Only a register request's input matters, and only at its exact size. */
    RtlZeroMemory(request, sizeof request);
    if (input_length == sizeof request && irp->AssociatedIrp.SystemBuffer != NULL) {
        RtlCopyMemory(request, irp->AssociatedIrp.SystemBuffer, sizeof request);
    }

    KeAcquireSpinLock(&extension->lock, &irql);
    transferred =
        orvek_sim_card_answer(&extension->card, code, request, input_length, output, output_length);
    KeReleaseSpinLock(&extension->lock, irql);

    if (transferred == ORVEK_SIM_UNKNOWN_CODE) {
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (transferred == ORVEK_SIM_REQUEST_FAILED) return complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    return complete(irp, STATUS_SUCCESS, (ULONG_PTR)transferred);
}

static NTSTATUS dispatch_device_control(PDEVICE_OBJECT device, PIRP irp) {
    if (device == control_device) return control_request(device, irp);
    return card_request(device, irp);
}

static NTSTATUS dispatch_open_close(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static void driver_unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    (void)driver;
    remove_cards();
    RtlInitUnicodeString(&link, ORVEK_SIM_CONTROL_LINK);
    IoDeleteSymbolicLink(&link);
    if (control_device != NULL) IoDeleteDevice(control_device);
    control_device = NULL;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    UNICODE_STRING device_name, link_name;
    NTSTATUS status;
    (void)registry_path;

    ExInitializeFastMutex(&cards_mutex);
    RtlInitUnicodeString(&device_name, ORVEK_SIM_CONTROL_DEVICE);
    RtlInitUnicodeString(&link_name, ORVEK_SIM_CONTROL_LINK);
    status =
        IoCreateDevice(driver, 0, &device_name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control_device);
    if (!NT_SUCCESS(status)) return status;
    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(control_device);
        control_device = NULL;
        return status;
    }
    control_device->Flags &= ~DO_DEVICE_INITIALIZING;

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
    driver->DriverUnload = driver_unload;
    DbgPrint("crvmon_orvek_sim: loaded\n");
    return STATUS_SUCCESS;
}
