#pragma once
// A flag that says a step of a handler is under way, for as long as the step's frame
// lives: lowered when the step ends, and also when its frame is destroyed while it
// waits (the program ends in the middle of a call).

class RaisedFlag {
public:
    explicit RaisedFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RaisedFlag() { m_flag = false; }
    RaisedFlag(const RaisedFlag&) = delete;
    RaisedFlag& operator=(const RaisedFlag&) = delete;

private:
    bool& m_flag;
};
