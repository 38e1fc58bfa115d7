/* A simulated machine for test programs written in C. */
#ifndef CRVMON_SIMULATION_FOR_C_H
#define CRVMON_SIMULATION_FOR_C_H

#ifdef __cplusplus
extern "C" {
#endif

/* Serves the scenario (TOML text) on a private object root; null when it cannot. */
void* crvmonTestStartSimulation(const char* scenario);
void crvmonTestStopSimulation(void* simulation);

#ifdef __cplusplus
}
#endif

#endif
