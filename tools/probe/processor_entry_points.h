#pragma once

// The sixteen names the loader binds from a console's processor module; a
// module that lacks any of them is refused.
constexpr const char* kProcessorEntryPoints[] = {
    "GetNumPorts",         "GetNumChannels",   "GetPortBuffer",        "LaunchOBExt",
    "GetAvailableNodes",   "ConnectToNode",    "DisconnectFromNode",   "ShutdownOB",
    "SetStatusCallback",   "StartPatchOperation", "SendPatch",         "FinishPatchOperation",
    "ClearPatchFromOB",    "SendMIDICommands", "GetLoaderVersion",     "ChangeUserNum",
};
constexpr int kProcessorEntryPointCount = sizeof(kProcessorEntryPoints) / sizeof(kProcessorEntryPoints[0]);
