#include "core/download/run_host.h"

#include "core/sequence/sequence_model.h"

namespace pellora {

TRunFields RunFieldsOf(const TSequenceModel& model) {
  const TSideFields& from = model.From();
  const TSideFields& to = model.To();
  return {from.Dir, from.File, from.Start, from.End, from.Max, from.Depth,
          to.Dir,   to.File,   to.Start,   to.End,   to.Max,   to.Depth};
}

}  // namespace pellora
