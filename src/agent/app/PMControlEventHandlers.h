// The agent's answers to the control protocol: installs the 25 handlers of the event class
// 'mdSY' into a handler table, each reading its parameters, checking their types with the
// protocol's error numbers and texts, and calling the drive operations (or, for 'SHRS', the
// agent's network storage).
//
//   PMControlEventHandlers::install(server.handlers(), app);
//
// Main thread (the handlers run where the control server lives).
#pragma once

class PMApplicationController;
namespace protocol {
class PMEventHandlerTable;
}

class PMControlEventHandlers {
public:
    static void install(protocol::PMEventHandlerTable &table, PMApplicationController &app);
};
