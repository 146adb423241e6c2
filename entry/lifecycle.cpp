// The commands that start, stop and re-configure a channel.
//
// Three behaviours are this driver's own:
// - ColdStart on an area that holds its port open closes that port first.
// - ChangeTevParams closes an open port before it opens the new settings,
//   also when the port name is unchanged: otherwise the exclusive device
//   refuses the second open and the port runs on with its old parameters
//   while the new ones are stored. When the device refuses the new line
//   settings there, it is opened again with the old ones, which stay
//   stored: one bad setting does not take a working channel off the line.
// - A time-out of ChangeTevParams that is not above 0 keeps the current one
//   (not only 0 and -1): a negative internal time-out would become an
//   unbounded read time-out on the port.
#include "entry/lifecycle.h"

#include <cstring>

#include "entry/config_file.h"
#include "entry/driver_state.h"
#include "entry/open_com.h"
#include "entry/priority_choice.h"
#include "gates/log_texts.h"
#include "link/transfer_policy.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

void SetPortReadTimeout(const ChannelArea& area) {
    (void)SerialSetReadTimeout(area.port_handle, ReadTimeoutMs(area.internal_timeout));
}

}  // namespace

int32_t ColdStart(TevRequest* request) {
    SetDriverEnded(false);
    err(MORVANE_LOG_TRACE, "%s", log_text::kVersion);
    ReadPriorityChoice();
    ChannelArea* area = request->channel_area;
    const StartBlock* start = static_cast<const StartBlock*>(request->parameter_block);
    if (area == nullptr || start == nullptr) return MORVANE_REQUEST_FAILED;

    if (start->external_timeout < 1000)
        err(MORVANE_LOG_OPERATOR,
            "ZIDIV> ColdStart() Warning, time-out should be specified > 10 seconds");
    area->internal_timeout = InternalTimeoutFor(start->external_timeout);
    // An area started again while it holds its port open lets it go first:
    // the exclusive device would refuse every later open, and the channel
    // would stay dead until the host's process ends. Anything else in the
    // handle (a fresh area holds any value) is left alone.
    if (area->port_handle != 0 && PortNameUsable(area->port_settings.port_name) &&
        SerialHoldsPort(area->port_handle, area->port_settings.port_name))
        (void)CloseCom(request);
    area->port_handle = 0;
    PortSettings& settings = area->port_settings;
    settings.is_3964r = ReadProtocolFile(request->channel_number);
    CopyPortName(settings.port_name, start->port_name);
    settings.line = start->line;
    settings.line_control = kChannelLineControl;
    if (start->open_now == 0) return MORVANE_OK;

    const PortHandle handle = OpenCom(settings);
    const PrintablePortName name(settings.port_name);
    if (handle == 0) {
        err(MORVANE_LOG_OPERATOR, "ZIDIV> ColdStart() unable to open %s port", name.text);
        return MORVANE_REQUEST_FAILED;
    }
    err(MORVANE_LOG_OPERATOR, "ZIDIV> ColdStart() port %s opened, file handle %u", name.text,
        static_cast<unsigned>(handle));
    area->port_handle = handle;
    SetPortReadTimeout(*area);
    err(MORVANE_LOG_TRACE, "ZIDIV> int. time-out %d, ext. time-out %d (1/100 sec)",
        static_cast<int>(area->internal_timeout), static_cast<int>(start->external_timeout));
    return MORVANE_OK;
}

int32_t WarmStart(TevRequest* request) {
    ChannelArea* area = request->channel_area;
    if (area != nullptr && area->port_handle != 0) (void)SerialPurgeInput(area->port_handle);
    err(MORVANE_LOG_TRACE, "ZIDIV> WarmStart()");
    return MORVANE_OK;
}

int32_t CloseCom(TevRequest* request) {
    ChannelArea* area = request->channel_area;
    if (area == nullptr) return MORVANE_LINE_FAILED;
    if (area->port_handle != 0) {
        if (SerialClose(area->port_handle) != kSerialOk) {
            err(MORVANE_LOG_OPERATOR, "ZIDIV> CloseCom() exited 2");
            return MORVANE_LINE_FAILED;
        }
        area->port_handle = 0;
    }
    err(MORVANE_LOG_TRACE, "ZIDIV> CloseCom() exited 0");
    return MORVANE_OK;
}

int32_t EndTev(TevRequest* request) {
    SetDriverEnded(true);
    const int32_t result = CloseCom(request);
    err(MORVANE_LOG_TRACE, "ZIDIV> EndTev() exited.");
    return result;
}

int32_t ReOpenCom(TevRequest* request) {
    ChannelArea* area = request->channel_area;
    if (area == nullptr) return MORVANE_LINE_FAILED;
    const PortHandle handle = OpenCom(area->port_settings);
    if (handle == 0) {
        err(MORVANE_LOG_OPERATOR, "ZIDIV> ReOpenCom() exited 2");
        return MORVANE_LINE_FAILED;
    }
    // Only a device that allows a second open (the null device) gets here
    // with a port still open: the old handle is released, not leaked.
    if (area->port_handle != 0) (void)SerialClose(area->port_handle);
    area->port_handle = handle;
    err(MORVANE_LOG_TRACE, "ZIDIV> ReOpenCom() exited 0");
    return MORVANE_OK;
}

int32_t ChangeTevParams(TevRequest* request) {
    ChannelArea* area = request->channel_area;
    const ChangeBlock* change = static_cast<const ChangeBlock*>(request->parameter_block);
    if (area == nullptr || change == nullptr) return MORVANE_LINE_FAILED;

    if (change->timeout > 0) area->internal_timeout = change->timeout;
    PortSettings& settings = area->port_settings;
    const PortSettings running = settings;
    const bool same_port_open =
        area->port_handle != 0 &&
        std::strncmp(running.port_name, change->port_name, MORVANE_PORT_NAME_SIZE) == 0;
    if (area->port_handle != 0) (void)CloseCom(request);
    CopyPortName(settings.port_name, change->port_name);
    if (change->line.baud_rate != 0) settings.line = change->line;

    PortHandle handle = OpenCom(settings);
    const bool refused_here = handle == 0 && same_port_open && area->port_handle == 0;
    if (refused_here) {
        settings = running;
        handle = OpenCom(settings);
    }
    if (handle != 0) {
        area->port_handle = handle;
        SetPortReadTimeout(*area);
    }
    if (handle == 0 || refused_here) {
        err(MORVANE_LOG_OPERATOR, "ZIDIV> ChangeTevParams() exited 2");
        return MORVANE_LINE_FAILED;
    }
    err(MORVANE_LOG_TRACE, "ZIDIV> ChangeTevParams() exited 0");
    return MORVANE_OK;
}

}  // namespace morvane
