// Every tag family of the engine, assembled into one registry.
#pragma once

#include "script/TagRegistry.h"

// The registry of all families (built once, lives for the process).
const CTagRegistry& GetTagRegistry();

// Each family file adds its rows.
void AddMessageTags(CTagRegistry& registry);
void AddFlowTags(CTagRegistry& registry);
void AddLuaTags(CTagRegistry& registry);
void AddSystemTags(CTagRegistry& registry);
void AddSaveTags(CTagRegistry& registry);
void AddLayerTags(CTagRegistry& registry);
void AddSoundTags(CTagRegistry& registry);
void AddVariableTags(CTagRegistry& registry);
