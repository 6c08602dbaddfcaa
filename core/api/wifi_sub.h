#pragma once

class cls_wifi;

// Second base of every per-class API object: the owner through which it logs and transmits. Plain on
// purpose (no virtuals, no meta-object) so the per-class objects stay QObjects first.
class wifi_sub
{
public:
    explicit wifi_sub(cls_wifi *owner) : owner(owner) {}

    cls_wifi *const owner;
};
