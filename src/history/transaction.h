// An asynchronous transaction waiting on a client's transaction list.
#pragma once

namespace zq {

class Transaction
{
public:
    virtual ~Transaction() = default;
};

} // namespace zq
