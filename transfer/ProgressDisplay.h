#pragma once

// The progress bar the page sender moves, one step per page.
namespace isp {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
};

} // namespace isp
