#include "transfer/PortOpening.h"

#include "transfer/Protocol.h"

namespace isp {

CommResult openForBootLoader(SerialComponent& comm, int port, const char* settings, int rThreshold)
{
    if (CommResult r = comm.setCommPort(port); !r)
        return r;
    if (CommResult r = comm.setSettings(settings); !r)
        return r;
    comm.setInBufferSize(LineBufferSize);
    comm.setOutBufferSize(LineBufferSize);
    comm.setInputLen(0);
    comm.setRThreshold(rThreshold);
    comm.setSThreshold(0);
    return comm.setPortOpen(true);
}

} // namespace isp
