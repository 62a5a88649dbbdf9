#include "script/tags/TagFamilies.h"

const CTagRegistry& GetTagRegistry() {
  static const CTagRegistry registry = [] {
    CTagRegistry r;
    AddMessageTags(r);
    AddFlowTags(r);
    AddSoundTags(r);
    AddLuaTags(r);
    AddSystemTags(r);
    AddSaveTags(r);
    AddLayerTags(r);
    AddVariableTags(r);
    return r;
  }();
  return registry;
}
