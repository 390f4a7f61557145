// What a file validator asks of the object that owns it (the drive's sync controller): whether
// the running job is being cancelled, so no further item is let through.
//
// Called from the worker thread that validates; implementations answer without blocking.
#pragma once

class PMValidatorOwner {
public:
    virtual ~PMValidatorOwner() = default;
    virtual bool cancelPending() const = 0;

protected:
    PMValidatorOwner() = default;
    PMValidatorOwner(const PMValidatorOwner &) = default;
    PMValidatorOwner &operator=(const PMValidatorOwner &) = default;
};
