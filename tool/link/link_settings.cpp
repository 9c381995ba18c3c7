#include "tool/link/link_settings.h"

namespace quillon {

const char* PortName(int portNumber)
{
    switch (portNumber) {
    case 2: return "COM2";
    case 3: return "COM3";
    case 4: return "COM4";
    default: return "COM1";
    }
}

const char* ReceiverEventName(int portNumber)
{
    switch (portNumber) {
    case 2: return "COM2sss";
    case 3: return "COM3sss";
    case 4: return "COM4sss";
    default: return "COM1sss";
    }
}

}  // namespace quillon
