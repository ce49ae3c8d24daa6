// What the benchmark files share: the effects' stage (their window, device
// and effects) is let go before another benchmark makes its own.
#pragma once

void ReleaseEffectStage();
