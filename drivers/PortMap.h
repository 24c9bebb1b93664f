// The per-user map of stable port names: "COM1" keeps meaning the same
// adapter when the kernel numbers USB serial devices anew. A plain INI file
// in the settings folder ($XDG_CONFIG_HOME, else ~/.config, sub-folder
// W_RQ3510), porty.ini:
//
//   COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//   USB=/dev/serial/by-id/usb-...
//
// Keys are COM<n> for the serial port library and USB for the USB converter,
// in any case; blanks around keys and values, section lines and lines
// starting with ; or # are ignored. Shared by the adapter libraries (which
// read it) and the diagnostics dialog (which writes it); no Qt here.
#ifndef RQ_DRIVERS_PORTMAP_H
#define RQ_DRIVERS_PORTMAP_H

#include <cstdint>
#include <map>
#include <string>

namespace rqports {

// Key to device path, keys upper-cased.
using PortMap = std::map<std::string, std::string>;

// The map file of the user running the program; empty when no home is known.
std::string portMapPath();
// Parses the text of a map file.
PortMap parsePortMap(const std::string &text);
// The map in a file; empty when the file is missing or unreadable.
PortMap readPortMap(const std::string &path);
// Device path of COM port n: environment variable RQ_COM<n> (for tests),
// else the user's map, else /dev/ttyS<n-1>. source, when given, is set to
// "RQ_COM<n>", the map file's path, or empty for the default.
std::string comDevice(std::uint32_t port, std::string *source = nullptr);
// Device path of the USB converter: RQ_USB, else the map's USB, else /dev/ttyUSB0.
std::string usbDevice(std::string *source = nullptr);
// The text of a map file that held old and now holds the map: comments,
// sections and other lines stay where they were, entries keep their places
// with their new values, removed entries go and new ones are added at the end.
std::string mergePortMap(const std::string &old, const PortMap &map);
// Writes the map (creating the folder) into the file as mergePortMap does,
// as a whole-file save that keeps the file's mode (WholeFile.h); false when
// any step failed, in which case an existing file is left as it was.
bool writePortMap(const std::string &path, const PortMap &map);

} // namespace rqports

#endif
