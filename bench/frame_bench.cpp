// Per-frame costs in a real GL context: the turning step, the same turn without its
// correction, and a whole frame short of its 70 ms delay.
#include <GL/freeglut.h>
#include <benchmark/benchmark.h>

#include "app/app.h"
#include "render/render.h"

static void TurnStep(benchmark::State& state)
{
    init();
    theta[0] = theta[1] = theta[2] = 1.0f;
    for (auto _ : state)
        turnScene();
}
BENCHMARK(TurnStep);

// The bare rotations, for the cost of keeping the matrix a true rotation.
static void TurnStepUncorrected(benchmark::State& state)
{
    init();
    for (auto _ : state) {
        glRotatef(1.0f, 1.0f, 0.0f, 0.0f);
        glRotatef(1.0f, 0.0f, 1.0f, 0.0f);
        glRotatef(1.0f, 0.0f, 0.0f, 1.0f);
    }
}
BENCHMARK(TurnStepUncorrected);

// The frame's own steps minus the delay, finished so that the drawing is really done.
static void FrameWithoutDelay(benchmark::State& state)
{
    init();
    theta[0] = theta[1] = theta[2] = 1.0f;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        turnScene();
        RenderScene();
        glutSwapBuffers();
        glFinish();
    }
}
BENCHMARK(FrameWithoutDelay)->Unit(benchmark::kMicrosecond);

// On the DISPLAY that bench/run.sh --frame-costs starts; without one, freeglut says so and exits.
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    startUp(&argc, argv);
    glutMainLoopEvent();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
